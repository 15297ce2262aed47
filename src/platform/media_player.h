#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

namespace qevra::platform {

// One invisible media player (GStreamer playbin) for sound and video files.
// Video plays in GStreamer's own window, sound through the default output.
// All operations run on the calling thread; the pipeline's bus is polled in
// them, so no GLib main loop is needed. While open() waits for a file to be
// ready, pending events other than user input keep running.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    explicit MediaPlayer(QObject* parent = nullptr);
    ~MediaPlayer() override;

    void setFileName(const std::string& path);
    const std::string& fileName() const;

    // Opens the file named by fileName(), closing any open file first, and
    // waits until it is ready; throws qevra::Exception with the media
    // service's error text when it cannot be opened (the player stays closed).
    // The name must be absolute. A named pipe, a device, a socket or a
    // symbolic link is refused at once, before the media service sees it.
    void open();
    // Plays from the current position and returns at once; rewinds first
    // when the file has played to its end. Needs an open file: throws
    // qevra::Exception("No MCI device open") otherwise, as stop() does.
    void play();
    // Stops playback; throws qevra::Exception("No MCI device open") when no
    // file is open.
    void stop();
    // Closes the open file; does nothing when none is open.
    void close();
    bool isOpen() const;

    // For tests. Replaces the default sinks by elements of these factories
    // (e.g. "fakesink") from the next open(); `sync` is set on them when they
    // have that property: true plays in real time, false as fast as it can.
    // A description of linked elements ("identity ! fakesink") makes a bin
    // of them, taken as it is.
    void setSinksForTesting(
        const char* audioSinkFactory, const char* videoSinkFactory, bool sync = true);
    // True while an open file is playing or about to (PLAYING is its state or
    // the state it is changing to).
    bool isPlaying() const;
    // The playback position in milliseconds; -1 when unknown or closed.
    std::int64_t positionMs() const;
    // Whether the open file has played to its end since it was opened or
    // last rewound.
    bool hasReachedEnd() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace qevra::platform
