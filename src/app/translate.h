#pragma once
// The user's language for the texts the application shows (windows, tray, console). Code below
// the widgets has no Qt: it asks through this hook, which the application points at Qt's
// translation system at start; until then (and in tests that set nothing) the English source
// text is the answer. Texts sent to phones never pass through here.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tamborix {

using Translator = std::function<std::string(const char* context, const char* source)>;

// Main thread only, before the first text is asked for.
void setTranslator(Translator translator);

// The source text in the user's language. `context` groups texts for translators (the class or
// file that shows them); both are string literals, so the translation tools can find them.
[[nodiscard]] std::string translate(const char* context, const char* source);

// `text` with %1, %2, … replaced by the values in order: a translation may reorder them.
[[nodiscard]] std::string fillIn(std::string_view text, std::initializer_list<std::string_view> values);

// A text worded below the application (a backend's reason, the store's warning, an event), in
// the user's language where it was made as a user text (base/user_text.h), with each of its
// values in the user's language too; any other text as it is.
[[nodiscard]] std::string localise(const std::string& text);

}  // namespace tamborix
