#include "gallery/makefile.h"

#include <atomic>
#include <cstdio>
#include <optional>

#include <sys/stat.h>

#include "gallery/pagewriter.h"

namespace pictarre {

namespace {

constexpr std::string_view kStatusText = "正在提取图象信息，请稍等……";

// An open file that is closed on every way out. Write and close failures are remembered so a
// run can never report a page it did not fully write.
class File {
public:
    File(const std::string& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // A device or a pipe never ends like a file: reading one as the list could run forever.
    bool isRegularFile() const
    {
        struct stat st {};
        return file_ && ::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    }
    bool ok() const { return ok_; }

    void write(std::string_view bytes)
    {
        if (file_ && ok_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
            ok_ = false;
    }

    void close()
    {
        if (file_) {
            if (std::fclose(file_) != 0)
                ok_ = false;
            file_ = nullptr;
        }
    }

    // The next line without its line end (LF, with a CR before it dropped), or nothing at the
    // end of the file or after a read error.
    std::optional<std::string> readLine()
    {
        if (!file_)
            return std::nullopt;
        std::string line;
        int c = getc_unlocked(file_);
        if (c == EOF) {
            if (std::ferror(file_))
                ok_ = false;
            return std::nullopt;
        }
        while (c != EOF && c != '\n') {
            line += static_cast<char>(c);
            c = getc_unlocked(file_);
        }
        if (c == EOF && std::ferror(file_)) {
            ok_ = false;
            return std::nullopt;
        }
        // Only a CR that ends the line with its LF is part of the line end; a last line
        // without LF keeps its CR, as the list file's own reader keeps it.
        if (c == '\n' && !line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }

private:
    std::FILE* file_;
    bool ok_ = true;
};

// Only one run writes the page at a time; a run started from inside a hook is refused.
std::atomic<bool> runUnderWay{false};

class RunGuard {
public:
    RunGuard() : acquired_(!runUnderWay.exchange(true)) {}
    ~RunGuard()
    {
        if (acquired_)
            runUnderWay.store(false);
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
    bool acquired() const { return acquired_; }

private:
    bool acquired_;
};

// The hooks are optional; a missing one does nothing.
struct Hooks {
    const GalleryHooks& h;
    void setStatus(std::string_view text) const { if (h.setStatus) h.setStatus(text); }
    float frameWidth() const { return h.frameWidth ? h.frameWidth() : 0.0f; }
    void setProgress(float width) const { if (h.setProgress) h.setProgress(width); }
    void yield() const { if (h.yield) h.yield(); }
    bool unloading() const { return h.unloading && h.unloading(); }
    bool listLayout() const { return h.listLayout && h.listLayout(); }
};

// makerow: the size of the picture, its path added to ImageListText, and its nine lines.
void makerow(File& page, const std::string& path, SizeReader& sizes, std::string& ImageListText)
{
    sizes.getsize(path);
    ImageListText += path;
    ImageListText += "\r\n";
    std::string entry;
    appendRowEntry(entry, path, sizes.PictureWidth, sizes.PictureHeight);
    page.write(entry);
}

std::string pictureOf(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

enum class SourceResult { Done, Stopped, Failed };

// What a source reads from besides its own description: the list source's open list file.
// It is opened before the page, so a list that cannot be read leaves the previous page whole.
bool openInput(const FolderSource&, std::optional<File>&)
{
    return true;
}

bool openInput(const ListSource& source, std::optional<File>& input)
{
    input.emplace(source.listFile, "rb");
    return input->isOpen() && input->isRegularFile();
}

SourceResult writeEntries(File& page, const FolderSource& source, std::optional<File>&, SizeReader& sizes,
                          std::string& ImageListText, const Hooks& hooks)
{
    const std::size_t count = source.names.size();
    for (std::size_t EntryIndex = 0; EntryIndex < count; ++EntryIndex) {
        const std::string path = pictureOf(source.folder, source.names[EntryIndex]);
        if (hooks.listLayout()) {
            makerow(page, path, sizes, ImageListText);
        } else {
            std::string entry;
            appendFlowEntry(entry, path);
            page.write(entry);
        }
        if (!page.ok())
            return SourceResult::Failed;
        hooks.setProgress(static_cast<float>(EntryIndex) * hooks.frameWidth() / static_cast<float>(count));
        hooks.yield();
        if (hooks.unloading())
            return SourceResult::Stopped;
    }
    return SourceResult::Done;
}

SourceResult writeEntries(File& page, const ListSource& source, std::optional<File>& input, SizeReader& sizes,
                          std::string& ImageListText, const Hooks& hooks)
{
    File& list = *input;
    std::int64_t EntryIndex = 0;
    while (const auto line = list.readLine()) {
        if (!line->empty())
            makerow(page, *line, sizes, ImageListText);
        if (!page.ok())
            return SourceResult::Failed;
        ++EntryIndex;
        // An empty search has a count of 0: the bar is left where it is rather than divided by 0.
        if (source.PictureCount != 0) {
            const float done = static_cast<float>(EntryIndex) * hooks.frameWidth();
            hooks.setProgress(static_cast<float>(static_cast<double>(done) / static_cast<double>(source.PictureCount)));
        }
        hooks.yield();
        if (hooks.unloading())
            return SourceResult::Stopped;
    }
    return list.ok() ? SourceResult::Done : SourceResult::Failed;
}

template <typename Source>
RunResult run(const std::string& pagePath, const Source& source, SizeReader& sizes, std::string& ImageListText,
              const GalleryHooks& galleryHooks)
{
    RunGuard guard;
    if (!guard.acquired())
        return RunResult::Busy;
    const Hooks hooks{galleryHooks};
    hooks.setStatus(kStatusText);

    std::optional<File> input;
    if (!openInput(source, input))
        return RunResult::Failed;
    File page(pagePath, "wb");
    if (!page.isOpen())
        return RunResult::Failed;
    std::string text;
    appendPageHeader(text);
    page.write(text);
    if (!page.ok())
        return RunResult::Failed;

    switch (writeEntries(page, source, input, sizes, ImageListText, hooks)) {
    case SourceResult::Stopped:
        return RunResult::Stopped;
    case SourceResult::Failed:
        page.close();
        hooks.setProgress(0.0f);
        return RunResult::Failed;
    case SourceResult::Done:
        break;
    }

    text.clear();
    appendPageFooter(text);
    page.write(text);
    page.close();
    hooks.setProgress(0.0f);
    hooks.yield();
    return page.ok() ? RunResult::Completed : RunResult::Failed;
}

}  // namespace

RunResult makefile(const std::string& pagePath, const FolderSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks)
{
    return run(pagePath, source, sizes, ImageListText, hooks);
}

RunResult makefile(const std::string& pagePath, const ListSource& source, SizeReader& sizes,
                   std::string& ImageListText, const GalleryHooks& hooks)
{
    return run(pagePath, source, sizes, ImageListText, hooks);
}

}  // namespace pictarre
