// setuppack --json: what test, list or scan found, as one JSON document on
// standard output (docs/json.md describes it, field by field).
#pragma once

#include <string>

#include "commands/verdicts.h"

// The version of the document's layout: it grows by fields that older
// readers may ignore; a change that would mislead them takes a new version.
const int JsonReportVersion = 1;

std::string JsonReport(const std::string& command, int status, const Verdicts& verdicts);
