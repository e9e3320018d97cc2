#include "app/Page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace mrvn {

namespace {
const char* const kDesignRect = "designRect";
}

void Page::PinGeometry(QWidget* widget)
{
    widget->setProperty(kDesignRect, widget->geometry());
}

void Page::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Relayout();
}

void Page::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Relayout();
}

void Page::Relayout()
{
    QWidget* tabControl = parentWidget();
    while (tabControl && !qobject_cast<QTabWidget*>(tabControl))
        tabControl = tabControl->parentWidget();
    const QPoint offset = tabControl ? mapTo(tabControl, QPoint(0, 0)) : QPoint(0, 0);
    const QSize grown =
        tabControl ? (tabControl->size() - kDesignTabSize).expandedTo(QSize(0, 0)) : QSize(0, 0);
    const auto withGrowth = [&](QWidget* widget, QRect rect) {
        for (const GrowingControl& control : m_growing) {
            if (control.widget != widget)
                continue;
            if (static_cast<int>(control.growth) & static_cast<int>(Growth::Right))
                rect.setWidth(rect.width() + grown.width());
            if (static_cast<int>(control.growth) & static_cast<int>(Growth::Down))
                rect.setHeight(rect.height() + grown.height());
            if (static_cast<int>(control.growth) & static_cast<int>(Growth::MoveRight))
                rect.translate(grown.width(), 0);
            if (static_cast<int>(control.growth) & static_cast<int>(Growth::MoveDown))
                rect.translate(0, grown.height());
        }
        return rect;
    };
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget)
            continue;
        const QVariant rect = widget->property(kDesignRect);
        if (rect.isValid())
            widget->setGeometry(withGrowth(widget, rect.toRect().translated(-offset)));
    }
    // Growing controls inside a group box: positions relative to the box, no offset.
    for (const GrowingControl& control : m_growing) {
        if (control.widget->parentWidget() == this)
            continue;
        const QVariant rect = control.widget->property(kDesignRect);
        if (rect.isValid())
            control.widget->setGeometry(withGrowth(control.widget, rect.toRect()));
    }
}

void Page::DeclareGrowth(const std::vector<GrowingControl>& controls)
{
    for (const GrowingControl& control : controls) {
        if (!control.widget->property(kDesignRect).isValid())
            PinGeometry(control.widget);
        m_growing.push_back(control);
    }
}

QList<QWidget*> Page::TabControls() const
{
    // The page's own controls and those of its group boxes; the parts of a compound control
    // (a combo box's edit, a list's viewport) follow their control by themselves.
    QList<QWidget*> controls;
    std::function<void(const QWidget*)> collect = [&](const QWidget* parent) {
        for (QObject* child : parent->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (!widget || widget->isWindow() || widget->isHidden())
                continue;
            if (qobject_cast<QGroupBox*>(widget))
                collect(widget);
            else if (widget->focusPolicy() & Qt::TabFocus)
                controls << widget;
        }
    };
    collect(this);
    return controls;
}

void Page::ChainTabOrder()
{
    struct Placed
    {
        QWidget* widget;
        QRect rect;
    };
    std::vector<Placed> placed;
    for (QWidget* widget : TabControls())
        placed.push_back({widget, QRect(widget->mapTo(this, QPoint(0, 0)), widget->size())});
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.rect.top() < b.rect.top(); });
    // A row: controls whose tops (nearly) meet, or that stand side by side (each one's middle
    // within the other's height), as a box and the taller button beside it do.
    const auto sameRow = [](const QRect& a, const QRect& b) {
        const int middleA = a.center().y();
        const int middleB = b.center().y();
        return std::abs(a.top() - b.top()) <= 4 || (middleA >= b.top() && middleA <= b.bottom() &&
                                                    middleB >= a.top() && middleB <= a.bottom());
    };
    QList<QWidget*> chain;
    for (std::size_t first = 0; first < placed.size();) {
        std::size_t end = first + 1;
        while (end < placed.size() && sameRow(placed[first].rect, placed[end].rect))
            ++end;
        std::stable_sort(
            placed.begin() + static_cast<std::ptrdiff_t>(first),
            placed.begin() + static_cast<std::ptrdiff_t>(end),
            [](const Placed& a, const Placed& b) { return a.rect.left() < b.rect.left(); });
        for (std::size_t i = first; i < end; ++i)
            chain << placed[i].widget;
        first = end;
    }
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

QString FromDesignText(const char* utf8)
{
    QString text = QString::fromUtf8(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void DesignLabel::SetTextColor(const QColor& color)
{
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

std::vector<DesignLabel::Line> DesignLabel::LaidOutLines() const
{
    const QFontMetrics metrics(font());
    const int pitch = font().pixelSize() > 0 ? font().pixelSize() : metrics.height();

    QStringList texts;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        if (!wordWrap()) {
            texts << paragraph;
            continue;
        }
        // Break where the next character would pass the right edge, as CJK text wraps.
        QString line;
        for (const QChar ch : paragraph) {
            if (!line.isEmpty() && metrics.horizontalAdvance(line + ch) > width()) {
                texts << line;
                line.clear();
            }
            line += ch;
        }
        texts << line;
    }
    int top = 0;
    if (alignment() & Qt::AlignVCenter)
        top = (height() - pitch * static_cast<int>(texts.size())) / 2;
    std::vector<Line> lines;
    for (const QString& text : texts) {
        lines.push_back({text, QRect(0, top, width(), pitch)});
        top += pitch;
    }
    return lines;
}

void DesignLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    for (const Line& line : LaidOutLines())
        painter.drawText(line.rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, line.text);
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* label = new DesignLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& text, QRect rect,
                    bool integerOnly)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(rect);
    if (integerOnly) {
        // Digits only: every integer box holds a count, an amount, a port or days, and a
        // minus sign there is always a typo.
        static const QRegularExpression integer(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(integer, edit));
    }
    return edit;
}

QPlainTextEdit* MakeMultiLineEdit(QWidget* parent, const QString& name, const QString& text,
                                  QRect rect, bool horizontalScroll)
{
    auto* edit = new QPlainTextEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(rect);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (horizontalScroll) {
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    return box;
}

QComboBox* MakeComboBox(QWidget* parent, const QString& name, const QStringList& entries,
                        QRect rect)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(entries);
    box->setGeometry(rect);
    return box;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& title, QRect rect)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    return box;
}

} // namespace mrvn
