#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

// A grid of pictures with row and column titles, each enlarged so that single pixels can be
// told apart.
class ContactSheet {
public:
    ContactSheet(QStringList columns, int zoom, int titleWidth)
        : columns_(std::move(columns)),
          zoom_(zoom),
          titleWidth_(titleWidth)
    {}

    void AddRow(const QString &title, std::vector<QImage> cells) { rows_.push_back({title, std::move(cells)}); }
    QImage Render() const;

private:
    struct Row {
        QString title;
        std::vector<QImage> cells;
    };
    QStringList columns_;
    int zoom_;
    int titleWidth_;
    std::vector<Row> rows_;
};

// Writes a PNG file into dir; raises Exception when it cannot.
void SavePng(const QImage &image, const QString &dir, const QString &name);
