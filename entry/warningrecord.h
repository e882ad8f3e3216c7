#pragma once
// The warning record: the nine facts, each with its field's caption, its
// placeholder in the template and its key in the settings store.

#include <QString>
#include <array>
#include <cstddef>

namespace entry {

// In the order the record keeps them: the settings keys, the order the
// placeholders are replaced in, and the columns of a list all follow it.
enum class Fact {
    EmployeeName,
    Manager,
    Department,
    Infraction,
    Improvement,
    Consequences,
    JobTitle,
    Date,
    EmployeeId,
};

inline constexpr std::array<Fact, 9> kFacts{
    Fact::EmployeeName, Fact::Manager,  Fact::Department, Fact::Infraction, Fact::Improvement,
    Fact::Consequences, Fact::JobTitle, Fact::Date,       Fact::EmployeeId};

// The nine values, in the record's order.
using FactValues = std::array<QString, 9>;

// Where the fact sits in the record's order (0 to 8).
constexpr std::size_t indexOf(Fact fact) {
    return static_cast<std::size_t>(fact);
}

struct FieldInfo {
    const char* caption;     // the label or frame that names it on the form
    const char* placeholder; // the marker in the template the field's text replaces
    bool multiLine;
};

inline constexpr std::array<FieldInfo, 9> kFields{{
    {"Employee Name:", "[EmployeeName]", false},
    {"Manager:", "[Manager]", false},
    {"Department:", "[Department]", false},
    {"Description of Infraction", "[Infraction]", true},
    {"Plan for Improvement", "[Improvement]", true},
    {"Consequences of Further Infractions", "[Consequences]", true},
    {"Job Title:", "[JobTitle]", false},
    {"Date:", "[CurrentDate]", false},
    {"Employee ID:", "[EmployeeID]", false},
}};

constexpr const FieldInfo& fieldInfo(Fact fact) {
    return kFields[indexOf(fact)];
}

inline QString placeholder(Fact fact) {
    return QLatin1String(fieldInfo(fact).placeholder);
}

// The key the fact's field is stored under, the same since the first release.
inline QString settingsKey(Fact fact) {
    return QStringLiteral("Text1_") + QString::number(indexOf(fact));
}

} // namespace entry
