#pragma once
// Calls into the word processor's object model made the way the program makes
// them, for the tests and benchmarks that drive the real office.

#include "platform/automation/automation.h"

#include <QString>

namespace wordcalls {

// Replaces every occurrence of find in each story of doc, with the settings
// the program gives the find object before each replacement.
inline void replaceInStories(const automation::Object& doc, const QString& find,
                             const QString& with) {
    using automation::NamedArg;
    using automation::Object;
    using automation::Variant;
    for (const Variant& v : doc["StoryRanges"].items()) {
        const Object range = v.toObject();
        range["Find"].call("ClearFormatting");
        range["Find"]["Replacement"].call("ClearFormatting");
        const Object f = range["Find"];
        f.set("Text", find);
        f["Replacement"].set("Text", with);
        f.set("Forward", true);
        f.set("Wrap", int32_t(1));
        for (const char* p : {"Format", "MatchCase", "MatchWholeWord", "MatchWildcards",
                              "MatchSoundsLike", "MatchAllWordForms"})
            f.set(p, false);
        range["Find"].call("Execute", {}, {NamedArg{"Replace", Variant(int16_t(2))}});
    }
}

} // namespace wordcalls
