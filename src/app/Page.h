#pragma once

#include <QLabel>
#include <QRect>
#include <QWidget>

#include <initializer_list>
#include <vector>

class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QCheckBox;
class QComboBox;

namespace mrvn {

// How a control follows a window enlarged beyond its designed size: it grows (Right, Down)
// and/or moves (MoveRight, MoveDown) by as much as the tab control has grown. Flags combine.
enum class Growth { Right = 1, Down = 2, RightAndDown = 3, MoveRight = 4, MoveDown = 8 };
constexpr Growth operator|(Growth a, Growth b)
{
    return static_cast<Growth>(static_cast<int>(a) | static_cast<int>(b));
}

// A page of the tab control. Control positions are given from the top-left corner of the
// tab control, tab strip included, as the window was designed; the page subtracts its own
// offset inside the tab control whenever it is laid out, so controls land where designed.
class Page : public QWidget
{
    Q_OBJECT
public:
    explicit Page(QWidget* parent = nullptr) : QWidget(parent) {}

    // The tab control's size as designed; the window can be enlarged beyond it, not shrunk.
    static constexpr QSize kDesignTabSize{496, 448};

    // Chains the Tab key through the page's controls in reading order of their designed
    // positions: row by row from the top, left to right within a row. Call once the page's
    // controls exist.
    void ChainTabOrder();

protected:
    struct GrowingControl
    {
        QWidget* widget;
        Growth growth;
    };
    // Controls (direct children or inside a group box) that grow or move by as much as the
    // tab control has grown beyond its designed size; everything else keeps its place and
    // size.
    void DeclareGrowth(const std::vector<GrowingControl>& controls);

    // Takes the widget's current geometry as its design position.
    template <typename W> W* Pin(W* widget)
    {
        PinGeometry(widget);
        return widget;
    }
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void PinGeometry(QWidget* widget);
    void Relayout();
    QList<QWidget*> TabControls() const;

    std::vector<GrowingControl> m_growing;
};

// A label drawn as the window was designed: lines at a fixed pitch of the font's pixel
// size (12 px), so captions laid out with spaces and line breaks meet their boxes.
class DesignLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
    void SetTextColor(const QColor& color);

    struct Line
    {
        QString text;
        QRect rect; // in the label's coordinates; the text starts at its left edge
    };
    // The lines as they are painted: line breaks of the text, then wrapping when enabled.
    std::vector<Line> LaidOutLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Helpers that create a control with its form name as object name; `parent` coordinates.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect rect);
QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& text, QRect rect,
                    bool integerOnly = false);
QPlainTextEdit* MakeMultiLineEdit(QWidget* parent, const QString& name, const QString& text,
                                  QRect rect, bool horizontalScroll);
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, QRect rect);
QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, QRect rect);
QComboBox* MakeComboBox(QWidget* parent, const QString& name, const QStringList& entries,
                        QRect rect);
QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& title, QRect rect);

// Windows line breaks of the designed texts as the widgets want them.
QString FromDesignText(const char* utf8);

} // namespace mrvn
