#pragma once

#include <QAbstractItemModelTester>
#include <QStringList>
#include <QtGlobal>

#include <cstring>

namespace mrvn::test {

// Collects what QAbstractItemModelTester reports (category "qt.modeltest") while it lives,
// so a broken model fails the test that checks Findings() instead of printing "FAIL!" lines
// beside a passing test. Other messages go on to the previous handler. One at a time.
class ModelTesterFindings
{
public:
    ModelTesterFindings() : m_previous(qInstallMessageHandler(&Handle)) { s_current = this; }
    ~ModelTesterFindings()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    ModelTesterFindings(const ModelTesterFindings&) = delete;
    ModelTesterFindings& operator=(const ModelTesterFindings&) = delete;

    const QStringList& Findings() const { return m_findings; }

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const bool finding = (type == QtWarningMsg || type == QtCriticalMsg) && context.category &&
                             std::strcmp(context.category, "qt.modeltest") == 0;
        if (finding && s_current) {
            s_current->m_findings << text;
            return;
        }
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, text);
    }

    static inline ModelTesterFindings* s_current = nullptr;
    QtMessageHandler m_previous;
    QStringList m_findings;
};

} // namespace mrvn::test
