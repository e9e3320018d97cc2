#pragma once

#include "app/Dialogs.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace mrvn::test {

// Answers every dialog from queues and records what the operator would have seen.
class ScriptedDialogs final : public Dialogs
{
public:
    using Shown = MessageRequest;
    struct Asked
    {
        QString prompt;
        QString title;
        QString initial;
    };

    MessageAnswer Show(QWidget*, const MessageRequest& request) override
    {
        messages.push_back(request);
        if (request.buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        if (answers.empty())
            return MessageAnswer::No;
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::optional<QString> Input(QWidget*, const QString& prompt, const QString& title,
                                 const QString& initial) override
    {
        inputs.push_back({prompt, title, initial});
        if (typed.empty())
            return std::nullopt;
        const bool cancelled = !typed.front().has_value();
        const QString text = cancelled ? QString() : *typed.front();
        typed.pop_front();
        if (cancelled)
            return std::nullopt;
        return text;
    }

    std::optional<QString> Secret(QWidget*, const QString& prompt, const QString&) override
    {
        secretsAsked.push_back(prompt);
        return Next(secrets);
    }

    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&) override
    {
        return Next(openPaths);
    }

    static std::optional<QString> Next(std::deque<std::optional<QString>>& queue)
    {
        if (queue.empty())
            return std::nullopt;
        std::optional<QString> next = queue.front();
        queue.pop_front();
        return next;
    }

    bool OpenAddress(const QString& address) override
    {
        opened.push_back(address);
        return browserTakesAddress;
    }

    std::optional<QString> SaveFileName(QWidget*, const QString& title, const QString& suggested,
                                        const QString& filter) override
    {
        saveAsked.push_back({title, suggested, filter});
        if (savePaths.empty())
            return std::nullopt;
        const bool cancelled = !savePaths.front().has_value();
        const QString path = cancelled ? QString() : *savePaths.front();
        savePaths.pop_front();
        if (cancelled)
            return std::nullopt;
        return path;
    }

    // Yes/No answers, in order; an unanswered question is answered No.
    std::deque<MessageAnswer> answers;
    // Input-box answers, in order; nullopt (or none left) is a cancel.
    std::deque<std::optional<QString>> typed;
    // Save-dialog answers, in order; nullopt (or none left) is a cancel.
    std::deque<std::optional<QString>> savePaths;

    // Secret-box and open-dialog answers, in order; nullopt (or none left) is a cancel.
    std::deque<std::optional<QString>> secrets;
    std::deque<std::optional<QString>> openPaths;
    std::vector<QString> secretsAsked;

    std::vector<Shown> messages;
    std::vector<Asked> inputs;
    std::vector<QString> opened;
    // What OpenAddress answers: whether a browser took the address.
    bool browserTakesAddress = true;
    struct SaveAsked
    {
        QString title;
        QString suggested;
        QString filter;
    };
    std::vector<SaveAsked> saveAsked;
};

} // namespace mrvn::test
