#pragma once
// The operator interface of the command line and the headless console: messages are printed, questions take
// the answer given on the command line.
#include "console/operator_interface.h"

#include <cstdio>
#include <mutex>

namespace brimlow {

class TextOperator final : public OperatorInterface {
public:
    explicit TextOperator(bool answerYes = false) : m_answerYes(answerYes) {}
    void ShowMessage(MessageIcon icon, const std::string& caption, const std::string& text) override {
        std::lock_guard lock(m_mutex);
        FILE* out = (icon == MessageIcon::Error || icon == MessageIcon::Warning) ? stderr : stdout;
        fprintf(out, "%s: %s\n", caption.c_str(), text.c_str());
        m_errors += icon == MessageIcon::Error ? 1 : 0;
    }
    bool AskYesNo(MessageIcon, const std::string& caption, const std::string& text) override {
        std::lock_guard lock(m_mutex);
        fprintf(stderr, "%s: %s %s\n", caption.c_str(), text.c_str(), m_answerYes ? "Yes." : "No (give --yes).");
        return m_answerYes;
    }
    void AddResultLine(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        fprintf(stdout, "%s\n", text.c_str());
        fflush(stdout);
    }
    int Errors() const { return m_errors; }

private:
    bool m_answerYes;
    int m_errors = 0;
    std::mutex m_mutex;
};

} // namespace brimlow
