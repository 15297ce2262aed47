#include "platform/application.h"

#include "base/exceptions.h"
#include "platform/services.h"

#include <QWidget>

namespace qevra {

namespace {
platform::Services* errorServices = nullptr;
} // namespace

void Application::setServices(platform::Services* services)
{
    errorServices = services;
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(platform::kApplicationTitle);
    // Closing the main window ends the program; the other windows only hide.
    setQuitOnLastWindowClosed(false);
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

void Application::handleException(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return;
    } catch (const Exception& e) {
        message = e.message();
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    platform::Services& services = errorServices ? *errorServices : platform::realServices();
    services.showError(platform::errorBoxText(message));
}

} // namespace qevra
