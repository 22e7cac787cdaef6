#include "gallery/makefile.h"

#include <optional>

#include "collect/filedescriptor.h"
#include "collect/listfile.h"
#include "collect/paths.h"
#include "gallery/pagewriter.h"

namespace pictarre {

namespace {

constexpr std::string_view kStatusText = "正在提取图象信息，请稍等……";

// The page being written: entries are gathered and written in large pieces. A failed write or
// close is remembered, so a run can never report a page it did not fully write; what was
// gathered is written out on every way out, a stopped run's entries included.
class PageFile {
public:
    explicit PageFile(const std::string& path) : file_(createFile(path)) {}
    ~PageFile() { close(); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    bool isOpen() const { return file_.isOpen(); }
    bool ok() const { return ok_; }

    void write(std::string_view bytes)
    {
        pending_ += bytes;
        if (pending_.size() >= kPiece)
            flush();
    }

    void close()
    {
        if (!file_.isOpen())
            return;
        flush();
        ok_ = file_.close() && ok_;
    }

private:
    static constexpr std::size_t kPiece = 1 << 16;

    void flush()
    {
        if (ok_ && !file_.writeAll(pending_))
            ok_ = false;
        pending_.clear();
    }

    FileDescriptor file_;
    std::string pending_;
    bool ok_ = true;
};

// The hooks are optional; a missing one does nothing, and a missing yield goes on.
struct Hooks {
    const GalleryHooks& h;
    void setStatus(std::string_view text) const { if (h.setStatus) h.setStatus(text); }
    float frameWidth() const { return h.frameWidth ? h.frameWidth() : 0.0f; }
    void setProgress(float width) const { if (h.setProgress) h.setProgress(width); }
    bool yield() const { return !h.yield || h.yield(); }
    bool listLayout() const { return h.listLayout && h.listLayout(); }
    Gallery* record() const { return h.record; }
};

// makerow: the size of the picture, its path added to ImageListText, and its nine lines.
void makerow(PageFile& page, const std::string& path, SizeReader& sizes, std::string& ImageListText, Gallery* record)
{
    sizes.getsize(path);
    if (record)
        record->addRow(path, sizes.PictureWidth, sizes.PictureHeight, sizes.unfittedWidth);
    ImageListText += path;
    ImageListText += "\r\n";
    std::string entry;
    appendRowEntry(entry, path, sizes.PictureWidth, sizes.PictureHeight);
    page.write(entry);
}

enum class SourceResult { Done, Stopped, Failed };

// What a source reads from besides its own description: the list source's open list file.
// It is opened before the page, so a list that cannot be read leaves the previous page whole.
bool openInput(const FolderSource&, std::optional<ImageListReader>&)
{
    return true;
}

bool openInput(const ListSource& source, std::optional<ImageListReader>& input)
{
    input.emplace(source.listFile);
    return input->isOpen();
}

SourceResult writeEntries(PageFile& page, const FolderSource& source, std::optional<ImageListReader>&,
                          SizeReader& sizes, std::string& ImageListText, const Hooks& hooks)
{
    const std::size_t count = source.names.size();
    for (std::size_t EntryIndex = 0; EntryIndex < count; ++EntryIndex) {
        const std::string path = joinPath(source.folder, source.names[EntryIndex]);
        if (hooks.listLayout()) {
            makerow(page, path, sizes, ImageListText, hooks.record());
        } else {
            if (Gallery* record = hooks.record())
                record->addFlow(path, readPictureSize(path));
            std::string entry;
            appendFlowEntry(entry, path);
            page.write(entry);
        }
        if (!page.ok())
            return SourceResult::Failed;
        hooks.setProgress(static_cast<float>(EntryIndex) * hooks.frameWidth() / static_cast<float>(count));
        if (!hooks.yield())
            return SourceResult::Stopped;
    }
    return SourceResult::Done;
}

SourceResult writeEntries(PageFile& page, const ListSource& source, std::optional<ImageListReader>& input,
                          SizeReader& sizes, std::string& ImageListText, const Hooks& hooks)
{
    ImageListReader& list = *input;
    std::int64_t EntryIndex = 0;
    while (const auto line = list.nextLine()) {
        if (!line->empty())
            makerow(page, *line, sizes, ImageListText, hooks.record());
        if (!page.ok())
            return SourceResult::Failed;
        ++EntryIndex;
        // An empty search has a count of 0: the bar is left where it is rather than divided by 0.
        if (source.PictureCount != 0) {
            const float done = static_cast<float>(EntryIndex) * hooks.frameWidth();
            hooks.setProgress(static_cast<float>(static_cast<double>(done) / static_cast<double>(source.PictureCount)));
        }
        if (!hooks.yield())
            return SourceResult::Stopped;
    }
    return list.ok() ? SourceResult::Done : SourceResult::Failed;
}

template <typename Source>
RunResult run(const std::string& pagePath, const Source& source, SizeReader& sizes, std::string& ImageListText,
              const GalleryHooks& galleryHooks)
{
    const Hooks hooks{galleryHooks};
    hooks.setStatus(kStatusText);

    std::optional<ImageListReader> input;
    if (!openInput(source, input))
        return RunResult::Failed;
    PageFile page(pagePath);
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
    if (Gallery* record = hooks.record())
        record->close();
    hooks.setProgress(0.0f);
    // The page is whole: a stop asked for now has nothing left to stop.
    static_cast<void>(hooks.yield());
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
