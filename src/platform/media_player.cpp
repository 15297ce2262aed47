#include "platform/media_player.h"

#include "base/exceptions.h"
#include "fs/descriptor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <gst/gst.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace qevra::platform {

namespace {

// How long open() waits for the file to be ready to play.
constexpr GstClockTime kOpenTimeout = 10 * GST_SECOND;
// How long open() waits for the error text after a refused state change.
constexpr GstClockTime kErrorTimeout = 1 * GST_SECOND;
// How long one wait on the bus lasts before pending events run again.
constexpr GstClockTime kWaitSlice = 20 * GST_MSECOND;

QString noDeviceOpen()
{
    return QStringLiteral("No MCI device open");
}

// Owning pointers to GLib and GStreamer objects.
struct ObjectUnref {
    void operator()(gpointer object) const noexcept { gst_object_unref(object); }
};
template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct MessageUnref {
    void operator()(GstMessage* message) const noexcept { gst_message_unref(message); }
};
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

struct ErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct StringFree {
    void operator()(gchar* text) const noexcept { g_free(text); }
};
using StringPtr = std::unique_ptr<gchar, StringFree>;

// Takes ownership of a newly made element, sinking its floating reference.
ObjectPtr<GstElement> adoptElement(GstElement* element)
{
    if (element)
        gst_object_ref_sink(element);
    return ObjectPtr<GstElement>(element);
}

QString textOf(ErrorPtr error, const QString& fallback)
{
    if (error && error->message && *error->message)
        return QString::fromUtf8(error->message);
    return fallback;
}

// Initialises GStreamer the first time it is needed; safe from any thread.
// A failure is reported each time, as the next call tries again.
void ensureGstreamer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GError* raw = nullptr;
        if (!gst_init_check(nullptr, nullptr, &raw))
            throw Exception(textOf(ErrorPtr(raw), QStringLiteral("GStreamer is not available")));
    });
}

// Only these messages reach the bus's queue. Everything else (tags, state
// changes of every element, QoS, warnings...) would pile up there during a
// long playback, as the bus is read only when an operation runs.
GstBusSyncReply keepUsefulMessages(GstBus*, GstMessage* message, gpointer)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ASYNC_DONE:
        return GST_BUS_PASS;
    default:
        return GST_BUS_DROP;
    }
}

ObjectPtr<GstElement> makeSink(const std::string& factory, bool sync)
{
    if (factory.find('!') != std::string::npos) {
        // A description of linked elements: a bin, used as it is.
        GError* raw = nullptr;
        ObjectPtr<GstElement> bin
            = adoptElement(gst_parse_bin_from_description(factory.c_str(), TRUE, &raw));
        ErrorPtr error(raw);
        if (!bin || error)
            throw Exception(textOf(std::move(error), QStringLiteral("Invalid sink description")));
        return bin;
    }
    ObjectPtr<GstElement> sink = adoptElement(gst_element_factory_make(factory.c_str(), nullptr));
    if (!sink)
        throw Exception(
            QStringLiteral("No GStreamer element \"%1\"").arg(QString::fromStdString(factory)));
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink.get()), "sync"))
        g_object_set(sink.get(), "sync", gboolean(sync), nullptr);
    return sink;
}

// A playbin and its bus; destroying it stops the playback and frees the
// pipeline's threads and resources.
class Pipeline {
public:
    explicit Pipeline(ObjectPtr<GstElement> playbin)
        : element_(std::move(playbin))
        , bus_(gst_element_get_bus(element_.get()))
    {
        gst_bus_set_sync_handler(bus_.get(), keepUsefulMessages, nullptr, nullptr);
    }
    ~Pipeline() { gst_element_set_state(element_.get(), GST_STATE_NULL); }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* element() const { return element_.get(); }
    GstBus* bus() const { return bus_.get(); }

private:
    ObjectPtr<GstElement> element_;
    ObjectPtr<GstBus> bus_;
};

// The error text of an error message.
QString errorText(GstMessage* message)
{
    GError* raw = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &raw, &debug);
    StringPtr ownedDebug(debug);
    return textOf(ErrorPtr(raw), QStringLiteral("Cannot open the file"));
}

// Takes the first message of `types` from the bus within `timeout`. It
// waits in short slices and lets pending events run between them, so the
// window repaints and its timers fire; user input waits, so no click or key
// reaches the player while it is opening.
MessagePtr popKeepingTheWindowLive(GstBus* bus, GstClockTime timeout, GstMessageType types)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::nanoseconds(timeout);
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        const GstClockTime slice = std::min(kWaitSlice, GstClockTime(std::max<gint64>(left, 0)));
        MessagePtr message(gst_bus_timed_pop_filtered(bus, slice, types));
        if (message || Clock::now() >= deadline)
            return message;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

// Waits until the pipeline, asked to pause, has prerolled; returns the
// error text when it cannot.
std::optional<QString> waitUntilPaused(const Pipeline& pipeline, GstStateChangeReturn change)
{
    const auto error = [&](GstClockTime timeout) -> std::optional<QString> {
        MessagePtr message(popKeepingTheWindowLive(pipeline.bus(), timeout, GST_MESSAGE_ERROR));
        if (message)
            return errorText(message.get());
        return std::nullopt;
    };
    switch (change) {
    case GST_STATE_CHANGE_SUCCESS:
    case GST_STATE_CHANGE_NO_PREROLL:
        return error(0);
    case GST_STATE_CHANGE_FAILURE:
        return error(kErrorTimeout).value_or(QStringLiteral("Cannot open the file"));
    case GST_STATE_CHANGE_ASYNC:
        break;
    }
    MessagePtr message(popKeepingTheWindowLive(
        pipeline.bus(), kOpenTimeout, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE)));
    if (!message)
        return QStringLiteral("Timed out opening the file");
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR)
        return errorText(message.get());
    return std::nullopt;
}

QString displayName(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Why a file that exists cannot be played without GStreamer blocking on it
// or following a link.
QString refusal(const std::string& path, const fs::OpenedFile& opened)
{
    if (opened.error != ENXIO) {
        return QStringLiteral("Could not open file \"%1\" for reading: %2.")
            .arg(displayName(path), QString::fromLocal8Bit(std::strerror(opened.error)));
    }
    struct stat status = opened.status;
    if (status.st_mode == 0) // a socket cannot be opened to look at it
        ::lstat(path.c_str(), &status);
    const char* kind = "not a regular file";
    if (S_ISFIFO(status.st_mode))
        kind = "a named pipe, not a regular file";
    else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        kind = "a device, not a regular file";
    else if (S_ISSOCK(status.st_mode))
        kind = "a socket, not a regular file";
    return QStringLiteral("\"%1\" is %2.").arg(displayName(path), QLatin1String(kind));
}

// The file the player is given, checked like every previewed file: opened
// without blocking and without following a link, and a regular file. The
// player then reads that very file through /proc/self/fd while `fd` stays
// open, so a name swapped for a pipe after the check cannot reach it.
// Nothing else ever reaches GStreamer: a missing file and a directory get
// the words GStreamer would use, without GStreamer opening anything by
// name (a pipe swapped in at that moment would hold the window for good).
struct CheckedFile {
    fs::Descriptor fd;
    std::string location;
};

CheckedFile checkFile(const std::string& path)
{
    fs::OpenedFile opened = fs::openRegularFile(path);
    if (!opened.fd) {
        if (opened.error == ENOENT)
            throw Exception(QStringLiteral("Resource not found."));
        if (opened.error == EISDIR)
            throw Exception(QStringLiteral("\"%1\" is a directory.").arg(displayName(path)));
        throw Exception(refusal(path, opened));
    }
    CheckedFile checked { std::move(opened.fd), {} };
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(checked.fd.get());
    struct stat seen { };
    if (::stat(byDescriptor.c_str(), &seen) != 0 || seen.st_dev != opened.status.st_dev
        || seen.st_ino != opened.status.st_ino)
        throw Exception(QStringLiteral("Could not open file \"%1\" for reading: "
                                       "/proc/self/fd is not available.")
                            .arg(displayName(path)));
    checked.location = byDescriptor;
    return checked;
}

} // namespace

struct MediaPlayer::Impl {
    std::string fileName;
    std::string audioSinkFactory;
    std::string videoSinkFactory;
    bool syncSinks = true;
    // The open file, kept open for the pipeline, which reads it by its
    // descriptor's name (and opens it again when restarted).
    fs::Descriptor file;
    std::unique_ptr<Pipeline> pipeline;
    // The end of the stream was reported since the file was opened or
    // rewound.
    bool reachedEnd = false;

    // Reads what the pipeline has reported so far, without waiting.
    void readBus()
    {
        while (MessagePtr message { gst_bus_pop(pipeline->bus()) }) {
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS)
                reachedEnd = true;
        }
    }

    // Whether the position is at the end, for when the end was reached
    // but not yet reported.
    bool positionAtEnd() const
    {
        gint64 position = 0;
        gint64 duration = 0;
        return gst_element_query_position(pipeline->element(), GST_FORMAT_TIME, &position)
            && gst_element_query_duration(pipeline->element(), GST_FORMAT_TIME, &duration)
            && duration > 0 && position >= duration;
    }

    void rewind()
    {
        GstElement* element = pipeline->element();
        const bool sought = gst_element_seek_simple(element, GST_FORMAT_TIME,
            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
        if (!sought) {
            // Restarting the stream also brings it back to its start.
            gst_element_set_state(element, GST_STATE_READY);
            gst_element_set_state(element, GST_STATE_PAUSED);
        }
        // An end reported before the seek belongs to the previous run.
        readBus();
        reachedEnd = false;
    }
};

MediaPlayer::MediaPlayer(QObject* parent)
    : QObject(parent)
    , d_(std::make_unique<Impl>())
{
}

MediaPlayer::~MediaPlayer()
{
    close();
}

void MediaPlayer::setFileName(const std::string& path)
{
    d_->fileName = path;
}

const std::string& MediaPlayer::fileName() const
{
    return d_->fileName;
}

void MediaPlayer::open()
{
    close();
    const std::string& path = d_->fileName;
    if (path.empty())
        throw Exception(QStringLiteral("No file name given"));
    if (path.front() != '/')
        throw Exception(QStringLiteral("\"%1\" is not an absolute file name")
                            .arg(QString::fromLocal8Bit(path.data(), qsizetype(path.size()))));
    ensureGstreamer();
    CheckedFile checked = checkFile(path);

    GError* rawError = nullptr;
    StringPtr uri(gst_filename_to_uri(checked.location.c_str(), &rawError));
    if (!uri)
        throw Exception(textOf(ErrorPtr(rawError), QStringLiteral("Invalid file name")));

    ObjectPtr<GstElement> playbin = adoptElement(gst_element_factory_make("playbin", nullptr));
    if (!playbin)
        throw Exception(QStringLiteral("No GStreamer element \"playbin\""));
    g_object_set(playbin.get(), "uri", uri.get(), nullptr);
    if (!d_->audioSinkFactory.empty())
        g_object_set(playbin.get(), "audio-sink",
            makeSink(d_->audioSinkFactory, d_->syncSinks).get(), nullptr);
    if (!d_->videoSinkFactory.empty())
        g_object_set(playbin.get(), "video-sink",
            makeSink(d_->videoSinkFactory, d_->syncSinks).get(), nullptr);

    auto pipeline = std::make_unique<Pipeline>(std::move(playbin));
    const GstStateChangeReturn change
        = gst_element_set_state(pipeline->element(), GST_STATE_PAUSED);
    if (std::optional<QString> failure = waitUntilPaused(*pipeline, change))
        throw Exception(*failure);
    d_->pipeline = std::move(pipeline);
    d_->file = std::move(checked.fd);
    d_->reachedEnd = false;
}

void MediaPlayer::play()
{
    if (!isOpen())
        throw Exception(noDeviceOpen());
    d_->readBus();
    if (d_->reachedEnd || d_->positionAtEnd())
        d_->rewind();
    gst_element_set_state(d_->pipeline->element(), GST_STATE_PLAYING);
}

void MediaPlayer::stop()
{
    if (!isOpen())
        throw Exception(noDeviceOpen());
    gst_element_set_state(d_->pipeline->element(), GST_STATE_PAUSED);
}

void MediaPlayer::close()
{
    d_->pipeline.reset();
    d_->file.reset();
    d_->reachedEnd = false;
}

bool MediaPlayer::isOpen() const
{
    return d_->pipeline != nullptr;
}

void MediaPlayer::setSinksForTesting(
    const char* audioSinkFactory, const char* videoSinkFactory, bool sync)
{
    d_->audioSinkFactory = audioSinkFactory ? audioSinkFactory : "";
    d_->videoSinkFactory = videoSinkFactory ? videoSinkFactory : "";
    d_->syncSinks = sync;
}

bool MediaPlayer::isPlaying() const
{
    if (!isOpen())
        return false;
    d_->readBus();
    if (d_->reachedEnd)
        return false;
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(d_->pipeline->element(), &current, &pending, 0);
    return (pending != GST_STATE_VOID_PENDING ? pending : current) == GST_STATE_PLAYING;
}

std::int64_t MediaPlayer::positionMs() const
{
    gint64 position = 0;
    if (!isOpen()
        || !gst_element_query_position(d_->pipeline->element(), GST_FORMAT_TIME, &position))
        return -1;
    return position / gint64(GST_MSECOND);
}

bool MediaPlayer::hasReachedEnd() const
{
    if (!isOpen())
        return false;
    d_->readBus();
    return d_->reachedEnd;
}

} // namespace qevra::platform
