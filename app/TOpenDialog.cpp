#include "app/TOpenDialog.h"

#include <QDir>
#include <QFileDialog>

QStringList TOpenDialog::NameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

bool TOpenDialog::Execute()
{
    // The framework's own dialog: the same look everywhere, and scriptable in tests.
    QFileDialog dialog(parent_);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(QDir::current().absoluteFilePath(initialDir_));
    const QStringList filters = NameFilters(filter_);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = QDir::toNativeSeparators(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath());
    return true;
}
