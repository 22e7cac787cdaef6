// pictarre-window-bench: the gallery in the real window with the real browser engine, measured
// from the user's click, as one line of key=value figures on standard output.
//
//   pictarre-window-bench [--open opendir|openlist|openimg] [--limit-s 900] [--mem-limit-mb 16384]
//                         [--probe-ms 50] [--sample-ms 100] [--no-scroll] [--trace FILE.csv] PATH
//
// "opendir" answers the folder chooser with PATH and clicks Opendir; "openlist" and "openimg"
// answer the Open dialog with PATH (a picture; for a folder, its first *.jpg by name) and click
// OpenList or OpenImg. The window is driven only through object names (the toolbar's actions,
// the views, the status panels, the progress bar), so the window's internals may change freely.
//
// Measured, all from the click:
//  - first_screen_ms: every picture that intersects the gallery's viewport is drawn (complete,
//    naturalWidth > 0 and a current source) or has failed for good (complete, a current source,
//    no natural width: a broken file), at least one is in view, and the page's content reaches
//    the viewport's bottom or the document is parsed; first_picture_ms: the first one drawn;
//  - page_ms: the view's loadFinished came after the click, status panel 1 shows
//    "当前路径： " + the folder and the progress bar "Pic" is back at width 0;
//  - peak memory summed over this process and all its descendants (the engine's processes),
//    Rss and Pss from /proc/PID/smaps_rollup, sampled from a thread, with the peak of each kind
//    of process (bench, the gallery's renderer, other renderers, gpu, utility, zygote);
//  - the longest gap between firings of a 1 ms timer in this process, over the whole run;
//  - after the page has loaded, with the gallery focused: Page Down three times, one wheel
//    notch down three times, then End, each as an event sent to the view's focus proxy: the
//    time until the page has moved, and until the moved-to screen is drawn as above;
//  - the gallery's page process dying: reported (status=crashed) and the run stops.
// A run that does not finish within the limit reports status=timeout with what it measured;
// one whose processes pass the memory limit together reports status=memlimit.
//
// With PICTARRE_SCREENSHOT=FILE.png it also saves a picture of the window at the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWheelEvent>

#include "app/frmmain.h"
#include "process_memory.h"

namespace {

using namespace pictarre;
using namespace pictarre::bench;
using Clock = std::chrono::steady_clock;

const Clock::time_point gStart = Clock::now();

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gStart).count();
}

// ---------------------------------------------------------------------------------------------
// The platform's modal parts, answered without a user.

class BenchDialogs final : public Dialogs {
public:
    BenchDialogs(QString folder, QString picture) : folder_(std::move(folder)), picture_(std::move(picture)) {}
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return folder_; }
    QString chooseOpenFile(QWidget*, const QString&, const QString&) override { return picture_; }

private:
    QString folder_;
    QString picture_;
};

class NoBrowserDialogs final : public BrowserDialogs {
public:
    std::optional<SaveAsChoice> askSaveAs(QWidget*, const QString&) override { return std::nullopt; }
    bool askPrint(QWidget*, QPrinter&) override { return false; }
};

class MemorySettings final : public SettingsStore {
public:
    QString read(const QString&, const QString&, const QString&) override { return {}; }
    void write(const QString&, const QString&, const QString&, const QString&) override {}
};

class NoShell final : public Shell {
public:
    void openDocument(const ShellOpenRequest&) override {}
    void runProgram(const QString&, ShowCommand) override {}
};

class NoMessages final : public MessageBoxes {
public:
    void information(QWidget*, const QString&, const QString&) override {}
    void about(QWidget*, const QString&, const QString&, const QIcon&) override {}
};

// ---------------------------------------------------------------------------------------------
// Appends `item` to a list separated by `separator`.
void appendItem(std::string& list, char separator, const std::string& item)
{
    if (!list.empty())
        list.push_back(separator);
    list.append(item);
}

// The result line: filled in as the run goes, printed once, by whichever thread ends the run.

class Report {
public:
    void set(const std::string& key, const std::string& value)
    {
        std::lock_guard lock(mutex_);
        for (auto& [k, v] : fields_) {
            if (k == key) {
                v = value;
                return;
            }
        }
        fields_.emplace_back(key, value);
    }
    void set(const std::string& key, qint64 value) { set(key, std::to_string(value)); }
    // Prints the line once; later calls do nothing.
    void print()
    {
        std::lock_guard lock(mutex_);
        if (printed_)
            return;
        printed_ = true;
        std::string line;
        for (const auto& [k, v] : fields_)
            appendItem(line, ' ', k + "=" + (v.empty() ? "-" : v));
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> fields_;
    bool printed_ = false;
};

Report gReport;


std::string mb(qint64 kb)
{
    return std::to_string((kb + 512) / 1024);
}

// ---------------------------------------------------------------------------------------------

// The machine's one-minute load average: the figures of a run on a busy machine mean less.
std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string first;
    in >> first;
    return first;
}

std::string decimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string kindsMb(const std::map<std::string, std::int64_t>& byKind)
{
    std::string out;
    for (const auto& [kind, kb] : byKind)
        appendItem(out, ',', kind + ":" + mb(kb));
    return out;
}

void reportMemory(const MemoryFigures& f, qint64 clickMs)
{
    gReport.set("rss_peak_mb", mb(f.rss.total));
    gReport.set("pss_peak_mb", mb(f.pss.total));
    gReport.set("pss_peak_at_ms", f.pss.atMs - clickMs);
    gReport.set("pss_peak_by_kind_mb", kindsMb(f.pss.byKind));
    gReport.set("rss_peak_by_kind_mb", kindsMb(f.rss.byKind));
    gReport.set("processes_max", f.maxProcesses);
    gReport.set("rss_samples", f.rssSamples);
    gReport.set("pss_samples", f.pssSamples);
    gReport.set("rss_sample_cpu_ms", decimal(f.rssSampleCpuMs));
    gReport.set("pss_sample_cpu_ms", decimal(f.pssSampleCpuMs));
}

// ---------------------------------------------------------------------------------------------
// The longest time this process's event loop went without running a 1 ms timer.

class StallMeter : public QObject {
public:
    explicit StallMeter(QObject* parent) : QObject(parent)
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        last_ = nowMs();
        timer_.start();
    }
    void report(qint64 clickMs)
    {
        tick();
        gReport.set("stall_ms", longest_);
        gReport.set("stall_at_ms", longestAt_ - clickMs);
        gReport.set("stalls_over_50ms", over50_);
    }

private:
    void tick()
    {
        const qint64 now = nowMs();
        const qint64 gap = now - last_;
        if (gap > longest_) {
            longest_ = gap;
            longestAt_ = last_;
        }
        over50_ += gap > 50 ? 1 : 0;
        last_ = now;
    }

    QTimer timer_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    qint64 longestAt_ = 0;
    qint64 over50_ = 0;
};

// ---------------------------------------------------------------------------------------------
// What the gallery page shows, asked of the page every few milliseconds, one question at a time.

struct Screen {
    qint64 requestedMs = 0;  // when the question was sent: the answer is no older than this
    qint64 answeredMs = 0;
    bool gallery = false;  // a document other than about:blank
    bool parsed = false;   // readyState is not "loading"
    int images = 0;
    int visible = 0;  // pictures intersecting the viewport
    int drawn = 0;
    int broken = 0;
    int pending = 0;
    double scrollY = 0;
    double maxScroll = 0;
    bool filled = false;  // the content reaches the viewport's bottom, or the document is parsed
    double jsMs = 0;

    bool allShown() const { return gallery && visible > 0 && pending == 0 && filled; }
};

// Finds the first picture whose bottom is below the viewport's top by halving over the pictures
// in document order (the gallery's pictures run down the page in that order), then walks on
// until a run of pictures lies wholly below the viewport. Only the pictures near the viewport
// are measured, so the question stays cheap on a page of 100,000 pictures.
const char* const kProbeScript = R"JS((() => {
  const t0 = performance.now();
  const d = document, w = window, root = d.documentElement;
  if (!root) return [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, performance.now() - t0];
  const imgs = d.images, n = imgs.length;
  const H = w.innerHeight, W = w.innerWidth;
  let lo = 0, hi = n;
  while (lo < hi) {
    const m = (lo + hi) >> 1;
    if (imgs[m].getBoundingClientRect().bottom > 0) hi = m; else lo = m + 1;
  }
  let visible = 0, drawn = 0, broken = 0, pending = 0, below = 0;
  for (let i = Math.max(0, lo - 32); i < n && below < 64; ++i) {
    const im = imgs[i], r = im.getBoundingClientRect();
    if (r.top >= H) { ++below; continue; }
    below = 0;
    if (r.bottom <= 0 || r.right <= 0 || r.left >= W || r.width <= 0 || r.height <= 0) continue;
    ++visible;
    if (im.complete && im.currentSrc) { if (im.naturalWidth > 0) ++drawn; else ++broken; }
    else ++pending;
  }
  const maxScroll = Math.max(0, root.scrollHeight - H);
  const parsed = d.readyState !== 'loading';
  const filled = parsed || root.scrollHeight >= w.scrollY + H;
  return [location.href !== 'about:blank' ? 1 : 0, parsed ? 1 : 0, n, visible, drawn, broken, pending,
          w.scrollY, maxScroll, filled ? 1 : 0, performance.now() - t0];
})())JS";

class Probe : public QObject {
public:
    Probe(QWebEnginePage* page, int intervalMs, QObject* parent) : QObject(parent), page_(page)
    {
        timer_.setInterval(intervalMs);
        connect(&timer_, &QTimer::timeout, this, [this] { ask(); });
    }
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    std::function<void(const Screen&)> onAnswer;
    const Screen& last() const { return last_; }
    void report(qint64 clickMs)
    {
        gReport.set("probes", answers_);
        gReport.set("probe_js_avg_ms", answers_ ? decimal(jsTotal_ / answers_) : "");
        gReport.set("probe_js_max_ms", decimal(jsMax_));
        gReport.set("probe_wait_max_ms", waitMax_);
        gReport.set("probe_wait_max_at_ms", waitMaxAt_ - clickMs);
    }

private:
    void ask()
    {
        if (waiting_)
            return;
        waiting_ = true;
        const qint64 asked = nowMs();
        page_->runJavaScript(QString::fromLatin1(kProbeScript), QWebEngineScript::ApplicationWorld,
                             [this, asked](const QVariant& value) { answer(asked, value); });
    }
    void answer(qint64 asked, const QVariant& value)
    {
        waiting_ = false;
        const QVariantList v = value.toList();
        if (v.size() < 11)
            return;
        Screen s;
        s.requestedMs = asked;
        s.answeredMs = nowMs();
        s.gallery = v[0].toInt() != 0;
        s.parsed = v[1].toInt() != 0;
        s.images = v[2].toInt();
        s.visible = v[3].toInt();
        s.drawn = v[4].toInt();
        s.broken = v[5].toInt();
        s.pending = v[6].toInt();
        s.scrollY = v[7].toDouble();
        s.maxScroll = v[8].toDouble();
        s.filled = v[9].toInt() != 0;
        s.jsMs = v[10].toDouble();
        ++answers_;
        jsTotal_ += s.jsMs;
        jsMax_ = std::max(jsMax_, s.jsMs);
        if (s.answeredMs - asked > waitMax_) {
            waitMax_ = s.answeredMs - asked;
            waitMaxAt_ = asked;
        }
        last_ = s;
        if (onAnswer)
            onAnswer(s);
    }

    QWebEnginePage* page_;
    QTimer timer_;
    bool waiting_ = false;
    Screen last_;
    qint64 answers_ = 0;
    double jsTotal_ = 0;
    double jsMax_ = 0;
    qint64 waitMax_ = 0;
    qint64 waitMaxAt_ = 0;
};

// ---------------------------------------------------------------------------------------------

struct Options {
    QString path;
    QString open = QStringLiteral("opendir");
    qint64 limitMs = 900'000;
    qint64 memLimitKb = 16'384 * 1024;
    int probeMs = 50;
    int sampleMs = 100;
    bool scroll = true;
    QString trace;
};

std::optional<Options> parseOptions(const QStringList& args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--open") && hasValue)
            o.open = args[++i];
        else if (a == QLatin1String("--limit-s") && hasValue)
            o.limitMs = args[++i].toLongLong() * 1000;
        else if (a == QLatin1String("--mem-limit-mb") && hasValue)
            o.memLimitKb = args[++i].toLongLong() * 1024;
        else if (a == QLatin1String("--probe-ms") && hasValue)
            o.probeMs = args[++i].toInt();
        else if (a == QLatin1String("--sample-ms") && hasValue)
            o.sampleMs = args[++i].toInt();
        else if (a == QLatin1String("--no-scroll"))
            o.scroll = false;
        else if (a == QLatin1String("--trace") && hasValue)
            o.trace = args[++i];
        else if (!a.startsWith(QLatin1String("--")) && o.path.isEmpty())
            o.path = a;
        else
            return std::nullopt;
    }
    if (o.path.isEmpty() || o.probeMs <= 0 || o.sampleMs <= 0
        || (o.open != QLatin1String("opendir") && o.open != QLatin1String("openlist")
            && o.open != QLatin1String("openimg")))
        return std::nullopt;
    return o;
}

// The picture the Open dialog answers with: PATH itself, or a folder's first *.jpg by name.
QString pictureFor(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return info.absoluteFilePath();
    const QStringList jpgs = QDir(path).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    return jpgs.isEmpty() ? QString() : QDir(path).absoluteFilePath(jpgs.first());
}

// Runs the event loop until `done` holds (checked every 10 ms and after each probe answer) or
// the deadline passes; false on the deadline.
bool waitUntil(const std::function<bool()>& done, qint64 deadlineMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || nowMs() >= deadlineMs)
            loop.quit();
    });
    check.start();
    loop.exec();
    return done();
}

void sendKey(QWidget* target, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

void sendWheelDown(QWidget* target)
{
    const QPointF centre(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(centre, target->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &wheel);
}

struct ScrollTiming {
    qint64 movedMs = -1;
    qint64 shownMs = -1;
};

// Sends one input to the gallery and follows the page: moved when the scroll position first
// differs, shown when it has stopped (two answers in a row at the same place) and the screen
// there is drawn; the time of the first of those answers counts. `atEnd` also asks that the
// page rests at its bottom.
ScrollTiming measureScroll(Probe& probe, const std::function<void()>& input, bool atEnd, qint64 deadlineMs)
{
    ScrollTiming t;
    // A fresh answer first, for the position before the input.
    const qint64 before = nowMs();
    waitUntil([&] { return probe.last().requestedMs >= before; }, std::min(deadlineMs, before + 10000));
    const double fromY = probe.last().scrollY;
    const qint64 sent = nowMs();
    input();
    double candidateY = -1;
    qint64 candidateMs = -1;
    qint64 seen = sent;
    waitUntil(
        [&] {
            const Screen& s = probe.last();
            if (s.requestedMs < sent || s.answeredMs <= seen)
                return false;
            seen = s.answeredMs;
            const bool moved = std::abs(s.scrollY - fromY) >= 1;
            if (moved && t.movedMs < 0)
                t.movedMs = s.answeredMs - sent;
            const bool rests = !atEnd || s.scrollY >= s.maxScroll - 1;
            if (!moved || !s.allShown() || !rests) {
                candidateY = -1;
                return false;
            }
            if (candidateY == s.scrollY) {
                t.shownMs = candidateMs - sent;
                return true;
            }
            candidateY = s.scrollY;
            candidateMs = s.answeredMs;
            return false;
        },
        std::min(deadlineMs, sent + 30000));
    return t;
}

std::string timings(const std::vector<qint64>& values)
{
    std::string out;
    for (qint64 v : values)
        appendItem(out, '/', v < 0 ? std::string("-") : std::to_string(v));
    return out;
}

qint64 worst(const std::vector<qint64>& values)
{
    qint64 w = 0;
    for (qint64 v : values) {
        if (v < 0)
            return -1;
        w = std::max(w, v);
    }
    return values.empty() ? -1 : w;
}

void setMs(const std::string& key, qint64 value)
{
    gReport.set(key, value < 0 ? std::string() : std::to_string(value));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const auto options = parseOptions(QCoreApplication::arguments());
    if (!options) {
        std::fputs("usage: pictarre-window-bench [--open opendir|openlist|openimg] [--limit-s S]"
                   " [--mem-limit-mb MB] [--probe-ms MS] [--sample-ms MS] [--no-scroll] [--trace FILE] PATH\n",
                   stderr);
        return 2;
    }
    const Options& o = *options;
    const bool openDir = o.open == QLatin1String("opendir");
    const QString picture = openDir ? QString() : pictureFor(o.path);
    const QString folder = QDir::cleanPath(openDir ? QFileInfo(o.path).absoluteFilePath()
                                                   : QFileInfo(picture).absolutePath());
    gReport.set("platform", QGuiApplication::platformName().toStdString());
    gReport.set("open", o.open.toStdString());
    gReport.set("path", QFile::encodeName(o.path).toStdString());
    gReport.set("status", "");
    gReport.set("pictures", "");
    if (!openDir && picture.isEmpty()) {
        gReport.set("status", "no-picture");
        gReport.print();
        return 2;
    }

    QTemporaryDir program;
    BenchDialogs dialogs(folder, picture);
    NoBrowserDialogs browserDialogs;
    MemorySettings settings;
    NoShell shell;
    NoMessages messages;
    Platform platform{dialogs, browserDialogs, settings, shell, messages};
    MemorySampler sampler(o.sampleMs, o.memLimitKb, QFile::encodeName(o.trace).toStdString(), nowMs);
    sampler.start();

    auto* window = new frmMain(platform, ProgramPaths{program.path(), program.path()});
    window->show();
    QApplication::setActiveWindow(window);
    auto* web = window->findChild<QWebEngineView*>(QStringLiteral("Web"));
    auto* panel1 = window->findChild<QLabel*>(QStringLiteral("panel1"));
    auto* panel3 = window->findChild<QLabel*>(QStringLiteral("panel3"));
    auto* pic = window->findChild<QWidget*>(QStringLiteral("Pic"));
    QAction* button = nullptr;
    for (QAction* a : window->findChildren<QAction*>(openDir ? QStringLiteral("Opendir")
                                                             : o.open == QLatin1String("openlist")
                                                                 ? QStringLiteral("OpenList")
                                                                 : QStringLiteral("OpenImg")))
        button = button ? button : a;
    if (!web || !panel1 || !panel3 || !pic || !button) {
        gReport.set("status", "window-not-found");
        gReport.print();
        return 2;
    }

    // The start-up page first.
    bool started = false;
    QObject::connect(web, &QWebEngineView::loadFinished, &app, [&] { started = true; });
    waitUntil([&] { return started; }, nowMs() + 60000);

    // The gallery's renderer process, for the memory by kind; it changes when one dies.
    sampler.setGalleryPid(web->page()->renderProcessPid());
    QObject::connect(web->page(), &QWebEnginePage::renderProcessPidChanged, &app,
                     [&](qint64 pid) { sampler.setGalleryPid(pid); });
    qint64 crashedAt = -1;
    QObject::connect(web->page(), &QWebEnginePage::renderProcessTerminated, &app,
                     [&](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                         if (crashedAt >= 0)
                             return;
                         crashedAt = nowMs();
                         gReport.set("crash_status", std::to_string(static_cast<int>(status)) + "/" + std::to_string(code));
                     });

    StallMeter stalls(&app);
    Probe probe(web->page(), o.probeMs, &app);

    // A moment of quiet for the figures before the click.
    waitUntil([] { return false; }, nowMs() + 500);
    gReport.set("load_start", loadAverage());
    gReport.set("rss_start_mb", mb(sampler.currentRssKb()));
    gReport.set("pss_start_mb", mb(sampler.currentPssKb()));

    const QString loadedText = QStringLiteral("当前路径： ") + folder;
    qint64 click = 0;
    bool loadStarted = false;
    bool loadFinished = false;
    qint64 commandMs = -1;
    qint64 firstPicture = -1;
    qint64 firstScreen = -1;
    qint64 pageLoaded = -1;
    Screen atFirstScreen;
    const auto pageLoadedNow = [&] {
        const QString text = panel1->text();
        return loadFinished && (text == loadedText || text == loadedText + QLatin1Char('/')) && pic->width() == 0;
    };
    const auto checkLoaded = [&] {
        if (pageLoaded < 0 && pageLoadedNow())
            pageLoaded = nowMs();
    };
    QObject::connect(web, &QWebEngineView::loadStarted, &app, [&] { loadStarted = true; });
    // A failed load (the page process died, the file went away) is not a loaded page, though
    // the window may show its status as if it were.
    QObject::connect(web, &QWebEngineView::loadFinished, &app, [&](bool ok) {
        if (!loadStarted)
            return;
        loadFinished = ok;
        if (!ok)
            gReport.set("load_failed_at_ms", nowMs() - click);
        checkLoaded();
    });
    probe.onAnswer = [&](const Screen& s) {
        if (firstPicture < 0 && s.gallery && s.drawn > 0)
            firstPicture = s.answeredMs;
        if (firstScreen < 0 && s.allShown()) {
            firstScreen = s.answeredMs;
            atFirstScreen = s;
        }
    };

    click = nowMs();
    const qint64 deadline = click + o.limitMs;
    sampler.setOriginMs(click);
    // The window did not end the run a minute past the limit, or 15 s past the memory limit:
    // the sampler's thread reports and ends it.
    sampler.setHungHandler(deadline + 60000, [&sampler, click](const char* status) {
        gReport.set("status", status);
        gReport.set("note", "main-thread-did-not-answer");
        reportMemory(sampler.figures(), click);
        gReport.print();
        killDescendants();
        std::_Exit(3);
    });
    stalls.start();
    probe.start();
    QTimer::singleShot(0, button, [&, button] {
        button->trigger();
        commandMs = nowMs() - click;
    });
    const auto stopped = [&] { return crashedAt >= 0 || sampler.overLimit() || nowMs() >= deadline; };
    waitUntil(
        [&] {
            checkLoaded();
            return stopped() || (pageLoaded >= 0 && firstScreen >= 0);
        },
        deadline);

    // Scrolling, once the page has loaded, with the gallery focused.
    if (o.scroll && !stopped() && pageLoaded >= 0 && firstScreen >= 0) {
        web->setFocus(Qt::OtherFocusReason);
        QWidget* target = web->focusProxy() ? web->focusProxy() : web;
        std::vector<qint64> pgdnMoved, pgdnShown, wheelMoved, wheelShown;
        for (int i = 0; i < 3 && !stopped(); ++i) {
            const auto t = measureScroll(probe, [&] { sendKey(target, Qt::Key_PageDown); }, false, deadline);
            pgdnMoved.push_back(t.movedMs);
            pgdnShown.push_back(t.shownMs);
        }
        for (int i = 0; i < 3 && !stopped(); ++i) {
            const auto t = measureScroll(probe, [&] { sendWheelDown(target); }, false, deadline);
            wheelMoved.push_back(t.movedMs);
            wheelShown.push_back(t.shownMs);
        }
        ScrollTiming end;
        if (!stopped())
            end = measureScroll(probe, [&] { sendKey(target, Qt::Key_End); }, true, deadline);
        gReport.set("end_scroll_y", static_cast<qint64>(probe.last().scrollY));
        gReport.set("end_scroll_max", static_cast<qint64>(probe.last().maxScroll));
        setMs("end_moved_ms", end.movedMs);
        setMs("end_shown_ms", end.shownMs);
        setMs("pgdn_moved_ms", worst(pgdnMoved));
        setMs("pgdn_shown_ms", worst(pgdnShown));
        setMs("wheel_moved_ms", worst(wheelMoved));
        setMs("wheel_shown_ms", worst(wheelShown));
        gReport.set("pgdn_shown_each_ms", timings(pgdnShown));
        gReport.set("wheel_shown_each_ms", timings(wheelShown));
    }
    probe.stop();

    const QString shot = qEnvironmentVariable("PICTARRE_SCREENSHOT");
    if (!shot.isEmpty()) {
        waitUntil([] { return false; }, nowMs() + 1500);  // the engine's last frame
        window->grab().save(shot);
    }

    std::string status = "ok";
    if (crashedAt >= 0)
        status = "crashed";
    else if (sampler.overLimit())
        status = "memlimit";
    else if (pageLoaded < 0 || firstScreen < 0)
        status = "timeout";
    gReport.set("status", status);
    gReport.set("pictures", panel3->text().section(QStringLiteral("："), 1).toStdString());
    setMs("command_ms", commandMs);
    setMs("first_picture_ms", firstPicture < 0 ? -1 : firstPicture - click);
    setMs("first_screen_ms", firstScreen < 0 ? -1 : firstScreen - click);
    setMs("page_ms", pageLoaded < 0 ? -1 : pageLoaded - click);
    setMs("crash_at_ms", crashedAt < 0 ? -1 : crashedAt - click);
    gReport.set("first_screen_pictures", firstScreen < 0 ? std::string() : std::to_string(atFirstScreen.visible));
    gReport.set("first_screen_broken", firstScreen < 0 ? std::string() : std::to_string(atFirstScreen.broken));
    gReport.set("page_images", probe.last().images);
    stalls.report(click);
    probe.report(click);
    sampler.stop();
    reportMemory(sampler.figures(), click);
    gReport.set("run_ms", nowMs() - click);
    gReport.set("load_end", loadAverage());
    gReport.print();

    // Tearing down a page of thousands of pictures can take long; the figures are out, so the
    // engine's processes are ended by their ids and this process leaves at once.
    killDescendants();
    std::_Exit(status == "ok" ? 0 : 1);
}
