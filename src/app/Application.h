#pragma once

class QApplication;

namespace mrvn {

// The look of the tool: a quiet Fusion style and a 12-pixel CJK font whose ASCII is half
// as wide as its ideographs, which the captions laid out with spaces rely on.
void ApplyAppearance(QApplication& app);

// Starts the tool and runs it until the main window is closed.
int RunApplication(int argc, char* argv[]);

} // namespace mrvn
