#!/usr/bin/python3
"""Makes the own-template fixtures from the built-in template with a private
headless LibreOffice (python3-uno), the way an organisation would make its own:

  ardmoor.dot   the company line reads "Ardmoor Widgets Ltd" (Word 97-2003 template)
  ardmoor.docx  the same as Office Open XML
  partial.odt   [JobTitle] and [EmployeeID] taken out, [Manager] half in bold
  macro.ott     an OpenDocument template whose open events run a Basic macro that
                writes "ran" to the file named by $VELTRANE_MACRO_PROOF

Usage: make-own-templates.py [--run-macro FILE.ott]
  --run-macro opens FILE with macros allowed, to show that its macro is live.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "..", "..", "resources", "template")
sys.path.insert(0, SOURCE)

import uno  # noqa: E402
from lo import Office, props, url  # noqa: E402

MACRO = '''Sub Main
  Dim f As Integer
  f = FreeFile
  Open Environ("VELTRANE_MACRO_PROOF") For Output As #f
  Print #f, "ran"
  Close #f
End Sub
'''


def replace(doc, old, new):
    r = doc.createReplaceDescriptor()
    r.SearchString = old
    r.ReplaceString = new
    return doc.replaceAll(r)


def company(doc, name):
    # The company line sits in a text frame, which replaceAll reaches.
    if replace(doc, "Company Name", name) != 1:
        raise SystemExit("no company line in the built-in template")


def main():
    src = os.path.join(SOURCE, "template.dot")
    with Office() as office:
        if len(sys.argv) == 3 and sys.argv[1] == "--run-macro":
            # 4: always execute, no warning. A hidden document gets no events.
            doc = office.load(os.path.abspath(sys.argv[2]), MacroExecutionMode=4, Hidden=False)
            doc.close(True)
            return

        doc = office.load(src)
        company(doc, "Ardmoor Widgets Ltd")
        doc.storeToURL(url(os.path.join(HERE, "ardmoor.dot")),
                       props(FilterName="MS Word 97 Vorlage"))
        doc.storeToURL(url(os.path.join(HERE, "ardmoor.docx")),
                       props(FilterName="MS Word 2007 XML"))
        doc.close(True)

        doc = office.load(src)
        for p in ("[JobTitle]", "[EmployeeID]"):
            if replace(doc, p, "") != 1:
                raise SystemExit("no " + p)
        sd = doc.createSearchDescriptor()
        sd.SearchString = "[Manager]"
        found = doc.findFirst(sd)
        found.collapseToStart()
        found.goRight(4, True)
        found.CharWeight = 150.0  # bold: the placeholder is now two runs
        doc.storeToURL(url(os.path.join(HERE, "partial.odt")), props(FilterName="writer8"))
        doc.close(True)

        doc = office.load(src)
        company(doc, "Macro Test Ltd")
        libs = doc.BasicLibraries
        lib = libs.getByName("Standard") if libs.hasByName("Standard") else libs.createLibrary("Standard")
        lib.insertByName("Proof", MACRO)
        event = uno.Any("[]com.sun.star.beans.PropertyValue", props(
            EventType="Script",
            Script="vnd.sun.star.script:Standard.Proof.Main?language=Basic&location=document"))
        # A template opens as a new document: "OnNew"; a document opened as itself: "OnLoad".
        for name in ("OnNew", "OnLoad"):
            uno.invoke(doc.Events, "replaceByName", (name, event))
        doc.storeToURL(url(os.path.join(HERE, "macro.ott")),
                       props(FilterName="writer8_template"))
        doc.close(True)


if __name__ == "__main__":
    main()
