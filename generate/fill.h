#pragma once
// A notice made without the window: the nine facts in, the document out, by
// the same word processor and the same replacements as "Start Creating
// Template", minus the picture and the preview.

#include "entry/warningrecord.h"
#include "platform/automation/automation.h"

#include <QString>

#include <array>
#include <optional>

namespace generate {

// The nine facts in field order (employee name first, employee ID last).
using Facts = entry::FactValues;

// The names the facts go by in files made by other programs (JSON keys, CSV
// column headers), in field order.
inline constexpr std::array<const char*, 9> kFactNames{
    "employeeName", "manager",  "department", "infraction", "improvement",
    "consequences", "jobTitle", "date",       "employeeId"};

// The kinds of file a notice can be saved as: the Word 97-2003 document the
// window saves, PDF/A-2b as "Save as PDF" makes it, Word 2007 and later,
// OpenDocument.
enum class NoticeFormat { Doc, Pdf, Docx, Odt };

// By name or file extension ("doc", "PDF"); nothing for any other.
std::optional<NoticeFormat> noticeFormatNamed(const QString& name);
QString noticeFormatName(NoticeFormat format);

// Makes notices one after another from the template at templatePath: opens it,
// puts the facts in place of the placeholders (every story, then the text
// boxes, in the window's order, under the window's rules for line breaks and
// control characters), and writes the result in the given format. One word
// processor serves a run of notices; a fresh one is taken after every
// kNoticesPerSession and after any failure, and the last quits with the filler.
class NoticeFiller {
  public:
    static constexpr int kNoticesPerSession = 25;

    explicit NoticeFiller(QString templatePath) : mTemplate(std::move(templatePath)) {}
    ~NoticeFiller() { quit(); }
    NoticeFiller(const NoticeFiller&) = delete;
    NoticeFiller& operator=(const NoticeFiller&) = delete;

    // Throws automation::Error; the word processor is let go then.
    void fill(const Facts& facts, NoticeFormat format, const QString& outputPath);

  private:
    void fillWith(const automation::Object& wordApp, const Facts& facts, NoticeFormat format,
                  const QString& outputPath);
    void quit();

    QString mTemplate;
    automation::Object mWordApp;
    int mMade = 0;
};

// One notice, with a word processor of its own. Throws automation::Error.
void fillNotice(const QString& templatePath, const Facts& facts, NoticeFormat format,
                const QString& outputPath);

} // namespace generate
