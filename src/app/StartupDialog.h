#pragma once

#include <QDialog>

namespace mrvn {

// Shown once before the main window is used. Only its two buttons close it: "非常感谢"
// goes on, "呵呵……" ends the program.
class StartupDialog : public QDialog
{
    Q_OBJECT
public:
    explicit StartupDialog(QWidget* parent = nullptr);

    // True when the operator chose to go on.
    bool GoOn() const { return m_goOn; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool m_goOn = false;
    bool m_closing = false;
};

} // namespace mrvn
