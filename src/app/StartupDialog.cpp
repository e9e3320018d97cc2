#include "app/StartupDialog.h"

#include "app/Page.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace mrvn {

namespace {

// The picture of the dialog: a sealed letter, drawn rather than shipped as a file.
QPixmap LetterPicture()
{
    QPixmap picture(88, 88);
    picture.fill(QColor(236, 240, 246));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 90, 130), 2));
    painter.setBrush(QColor(255, 255, 255));
    painter.drawRect(12, 24, 64, 42);
    painter.drawLine(12, 24, 44, 50);
    painter.drawLine(76, 24, 44, 50);
    painter.setBrush(QColor(190, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(44, 50), 7, 7);
    return picture;
}

} // namespace

StartupDialog::StartupDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("StartupDialog"));
    setWindowTitle(QStringLiteral("启动初始化"));
    setFixedSize(419, 140);
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* picture = new QPushButton(this);
    picture->setObjectName(QStringLiteral("图片按钮1"));
    picture->setGeometry(8, 8, 88, 88);
    picture->setIcon(QIcon(LetterPicture()));
    picture->setIconSize(QSize(84, 84));
    picture->setFlat(true);
    picture->setAutoDefault(false);

    // Drawn as the main window's captions are, at the design font's line pitch.
    QLabel* note = MakeLabel(
        this, QStringLiteral("标签1"),
        QStringLiteral("使用前感谢下软件作者：Tobrel童鞋吧！\n有问题与建议，请到发布帖中留言。"),
        QRect(104, 24, 296, 48));
    note->setWordWrap(true);

    auto* thanks = new QPushButton(QStringLiteral("非常感谢"), this);
    thanks->setObjectName(QStringLiteral("按钮1"));
    thanks->setGeometry(184, 72, 88, 32);
    auto* laugh = new QPushButton(QStringLiteral("呵呵……"), this);
    laugh->setObjectName(QStringLiteral("按钮2"));
    laugh->setGeometry(304, 72, 88, 32);
    thanks->setDefault(true);

    connect(thanks, &QPushButton::clicked, this, [this] {
        m_goOn = true;
        m_closing = true;
        done(QDialog::Accepted);
    });
    connect(laugh, &QPushButton::clicked, this, [this] {
        m_goOn = false;
        m_closing = true;
        done(QDialog::Rejected);
    });
}

void StartupDialog::reject()
{
    // Escape does not dismiss the dialog either.
}

void StartupDialog::closeEvent(QCloseEvent* event)
{
    if (m_closing)
        event->accept();
    else
        event->ignore();
}

} // namespace mrvn
