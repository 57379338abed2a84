#pragma once
// How the engine reaches the person at the console. The window shows message boxes, the command line prints,
// tests record. The engine never includes anything of the window.
#include <string>

namespace brimlow {

constexpr const char* kAppCaption = "Brimlow";

enum class MessageIcon { Error, Warning, Information, Question };

class OperatorInterface {
public:
    virtual ~OperatorInterface() = default;
    virtual void ShowMessage(MessageIcon icon, const std::string& caption, const std::string& text) = 0;
    virtual bool AskYesNo(MessageIcon icon, const std::string& caption, const std::string& text) = 0;
    // A line of the Result list, for code that runs on the user-interface thread.
    virtual void AddResultLine(const std::string& text) = 0;

    void ShowError(const std::string& text) { ShowMessage(MessageIcon::Error, kAppCaption, text); }
};

} // namespace brimlow
