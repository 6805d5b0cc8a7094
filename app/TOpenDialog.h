#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The open-file dialog as the window describes it: a filter of "caption|patterns" pairs, an
// initial folder taken relative to the working directory, and the chosen file's full path.
class TOpenDialog {
public:
    explicit TOpenDialog(QWidget *parent) : parent_(parent) {}

    QString Filter() const { return filter_; }
    void setFilter(const QString &filter) { filter_ = filter; }
    QString InitialDir() const { return initialDir_; }
    void setInitialDir(const QString &dir) { initialDir_ = dir; }
    QString FileName() const { return fileName_; }

    // Runs the dialog modally; true when a file was chosen.
    bool Execute();

    // "wav|*.wav|midi|*.mid" as the dialog's name filters: "wav (*.wav)", "midi (*.mid)".
    static QStringList NameFilters(const QString &filter);

private:
    QWidget *parent_;
    QString filter_;
    QString initialDir_;
    QString fileName_;
};
