#include "app/Application.h"

#include "app/Dialogs.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>

namespace mrvn {

namespace {

const char* const kPreparedProperty = "mrvnPrepared";

// The design font named in a style sheet: a widget polished under the sheet takes its font
// from there, so the sheet has to carry it.
QString FontRule(const QFont& font)
{
    return QStringLiteral("* { font-family: \"%1\"; font-size: %2px; }")
        .arg(font.family())
        .arg(font.pixelSize());
}

} // namespace

QFont DesignFont()
{
    const QString family = QFontDatabase::families().contains(QStringLiteral("SimSun"))
                               ? QStringLiteral("SimSun")
                               : QStringLiteral("WenQuanYi Zen Hei Mono");
    QFont font(family);
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

void PrepareApplication(QApplication& app)
{
    if (app.property(kPreparedProperty).toBool())
        return;
    app.setProperty(kPreparedProperty, true);
    app.setFont(DesignFont());

    // Without the file the buttons stay English; nothing else depends on it.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    else
        delete translator;
}

void ApplyAppearance(QApplication& app)
{
    const QFont font = DesignFont();
    app.setFont(font);
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = app.style()->standardPalette();
    palette.setColor(QPalette::Window, QColor(236, 239, 243));
    palette.setColor(QPalette::Button, QColor(228, 232, 238));
    palette.setColor(QPalette::Highlight, QColor(64, 112, 176));
    palette.setColor(QPalette::WindowText, Qt::black);
    app.setPalette(palette);
    // Narrow combo boxes (45 px) still show two ideographs beside their arrow.
    app.setStyleSheet(FontRule(font) + QStringLiteral("QComboBox { padding: 0px 0px 0px 3px; }"
                                                      "QComboBox::drop-down { width: 13px; }"));
}

std::unique_ptr<MainWindow> CreateMainWindow(AppEnvironment environment)
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        PrepareApplication(*app);
    return std::make_unique<MainWindow>(std::move(environment));
}

int RunApplication(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    const std::unique_ptr<MainWindow> window = CreateMainWindow(AppEnvironment::Default(dialogs));
    // "呵呵……" in the start-up dialog ends the program before anything is loaded.
    if (!window->OnMainWindowCreated())
        return 0;
    window->show();
    return app.exec();
}

} // namespace mrvn
