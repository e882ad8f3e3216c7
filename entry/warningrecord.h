#pragma once
// The warning record: nine text fields with fixed indices, each with its
// placeholder in the template and its key in the settings store.

#include <QString>
#include <array>

namespace entry {

struct FieldInfo {
    int index;
    const char* caption;     // the label or frame that names it on the form
    const char* placeholder; // the marker in the template the field's text replaces
    bool multiLine;
};

inline constexpr std::array<FieldInfo, 9> kFields{{
    {0, "Employee Name:", "[EmployeeName]", false},
    {1, "Manager:", "[Manager]", false},
    {2, "Department:", "[Department]", false},
    {3, "Description of Infraction", "[Infraction]", true},
    {4, "Plan for Improvement", "[Improvement]", true},
    {5, "Consequences of Further Infractions", "[Consequences]", true},
    {6, "Job Title:", "[JobTitle]", false},
    {7, "Date:", "[CurrentDate]", false},
    {8, "Employee ID:", "[EmployeeID]", false},
}};

inline QString settingsKey(int index) {
    return QStringLiteral("Text1_") + QString::number(index);
}

} // namespace entry
