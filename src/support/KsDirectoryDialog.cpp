#include "support/KsDirectoryDialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace vantrel {

bool TKsDirectoryDialog::Execute()
{
    QFileDialog dialog(Owner, QString::fromLocal8Bit(Title.c_str()), QFile::decodeName(InitialDir.c_str()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!InitialDir.empty())
        dialog.setDirectory(QFile::decodeName(InitialDir.c_str()));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return false;
    const QFileInfo info(chosen.front());
    if (!info.isDir())
        return false; // nothing on the file system to hand back
    Directory = QFile::encodeName(QDir::toNativeSeparators(info.absoluteFilePath())).toStdString();
    return true;
}

} // namespace vantrel
