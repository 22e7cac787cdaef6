#pragma once

#include <string>
#include <vector>

#include <QListWidget>

namespace pictarre {

// The file list box: the picture files of one folder under the pattern "*.bmp;*jpg;*.gif",
// as the core lists them. Paths are native bytes.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    static constexpr const char* Pattern = "*.bmp;*jpg;*.gif";

    // Points the box at a folder and lists it. Fails (false, nothing changed) when the folder
    // cannot be listed.
    bool setPath(const std::string& folder);
    // The folder, without a trailing separator except at the root.
    const std::string& Path() const { return path_; }
    int ListCount() const { return static_cast<int>(names_.size()); }
    int ListIndex() const { return currentRow(); }
    void setListIndex(int index) { setCurrentRow(index); }
    // The selected entry's name, or empty when none is selected.
    std::string FileName() const;
    const std::vector<std::string>& names() const { return names_; }

private:
    std::string path_;
    std::vector<std::string> names_;
};

}  // namespace pictarre
