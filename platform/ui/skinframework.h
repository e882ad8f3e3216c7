#pragma once
// The skinning component. It takes its calls by number, like the component it
// replaces: 2 loads a skin file, 1 is the option word, 5 and 10 are switches,
// 3 applies the loaded skin to a window given by its handle. The skin file is a
// Qt style sheet.

#include "platform/automation/automation.h"

#include <QString>

namespace ui {

class SkinFramework {
  public:
    automation::Variant invoke(int dispId, automation::CallKind kind,
                               const QList<automation::Variant>& args = {});

    int options() const { return mOptions; }
    bool applyColorsToForms() const { return mSwitch5; }
    bool applyMetricsToForms() const { return mSwitch10; }

  private:
    QString mSheet;
    bool mLoaded = false;
    int mOptions = 0;
    bool mSwitch5 = false;
    bool mSwitch10 = false;
};

} // namespace ui
