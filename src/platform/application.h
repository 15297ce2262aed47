#pragma once

#include <QApplication>

namespace qevra::platform {
class Services;
}

namespace qevra {

// The application object: its event delivery reports what escapes a
// handler. The silent abort is swallowed; any other exception releases the
// mouse and shows the error box, and the loop goes on.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Reports an exception as the event loop does.
    static void handleException(std::exception_ptr error);
    // The services whose error box reports; the real ones unless set
    // (nullptr puts them back).
    static void setServices(platform::Services* services);
};

} // namespace qevra
