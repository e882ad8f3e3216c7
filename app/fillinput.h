#pragma once
// The rows of a list for "veltrane --fill-list", read from its CSV file.

#include "generate/fill.h"

#include <QString>

#include <vector>

namespace app::fill {

struct Row {
    int number = 0; // as the spreadsheet counts (the header is row 1)
    generate::Facts facts;
    QString target;
    QString problem; // why it cannot be made at all
};

// Reads the list and its header, naming each row's notice in outputDir; "" or
// why it cannot serve.
QString readRows(const QString& file, const QString& outputDir, const QString& suffix,
                 std::vector<Row>& rows);

} // namespace app::fill
