#include "app/Application.h"

#include "app/Dialogs.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace mrvn {

void ApplyAppearance(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = app.style()->standardPalette();
    palette.setColor(QPalette::Window, QColor(236, 239, 243));
    palette.setColor(QPalette::Button, QColor(228, 232, 238));
    palette.setColor(QPalette::Highlight, QColor(64, 112, 176));
    palette.setColor(QPalette::WindowText, Qt::black);
    app.setPalette(palette);
    // Narrow combo boxes (45 px) still show two ideographs beside their arrow.
    app.setStyleSheet(QStringLiteral("QComboBox { padding: 0px 0px 0px 3px; }"
                                     "QComboBox::drop-down { width: 13px; }"));

    const QStringList families = QFontDatabase::families();
    QString family = QStringLiteral("WenQuanYi Zen Hei Mono");
    if (families.contains(QStringLiteral("SimSun")))
        family = QStringLiteral("SimSun");
    QFont font(family);
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::PreferDefault);
    app.setFont(font);
}

int RunApplication(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    MainWindow window(AppEnvironment::Default(dialogs));
    // "呵呵……" in the start-up dialog ends the program before anything is loaded; the
    // window's look is applied right after the dialog.
    if (!window.OnMainWindowCreated())
        return 0;
    window.show();
    return app.exec();
}

} // namespace mrvn
