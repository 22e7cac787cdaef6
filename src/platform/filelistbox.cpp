#include "platform/filelistbox.h"

#include <QFile>

#include "collect/folderlist.h"

namespace pictarre {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent)
{
}

bool FileListBox::setPath(const std::string& folder)
{
    if (!canListFolder(folder))
        return false;
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    path_ = path;
    names_ = listFolderPictures(path_);
    clear();
    for (const auto& name : names_)
        addItem(QFile::decodeName(QByteArray::fromStdString(name)));
    return true;
}

std::string FileListBox::FileName() const
{
    const int row = currentRow();
    return row >= 0 && row < ListCount() ? names_[static_cast<std::size_t>(row)] : std::string();
}

}  // namespace pictarre
