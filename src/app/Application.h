#pragma once

#include "app/AppEnvironment.h"

#include <QFont>

#include <memory>

class QApplication;

namespace mrvn {

class MainWindow;

// The font every caption was laid out for: 12 pixels of a CJK font whose ASCII is half as
// wide as its ideographs, which the captions padded with spaces rely on. SimSun where it
// exists, WenQuanYi Zen Hei Mono elsewhere.
QFont DesignFont();

// Once per process, before any window exists: the design font for every control and Qt's
// own Chinese texts for the standard buttons (OK, Cancel, Yes, No). Repeated calls do
// nothing more.
void PrepareApplication(QApplication& app);

// The skin step of the start-up: a quiet Fusion style, its palette and a style sheet. The
// design font stays on every control, whether it existed before this step or not.
void ApplyAppearance(QApplication& app);

// The main window exactly as the program builds it; the program and the window tests both
// come through here. Its start-up steps run in MainWindow::OnMainWindowCreated.
std::unique_ptr<MainWindow> CreateMainWindow(AppEnvironment environment);

// Starts the tool and runs it until the main window is closed.
int RunApplication(int argc, char* argv[]);

} // namespace mrvn
