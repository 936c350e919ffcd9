#include "ScriptedPrompts.h"

loader::LoaderPrompts::FinishChoice ScriptedPrompts::RunFinishDialog() {
    ++m_finishDialogs;
    return FinishChoice::Finish;
}

std::optional<std::string> ScriptedPrompts::ChooseFile() {
    ++m_selections;
    return m_imagePath;
}
