#include "cli/json_report.h"

#include <stdio.h>

#include "cli/json_writer.h"

namespace {

void OptionalNumber(JsonWriter* json, const char* key, int64_t value) {
  json->Key(key);
  if (value < 0) {
    json->Null();
  } else {
    json->Number(value);
  }
}

void OptionalString(JsonWriter* json, const char* key, const std::string& value) {
  json->Key(key);
  if (value.empty()) {
    json->Null();
  } else {
    json->String(value);
  }
}

std::string Hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

void WriteFile(JsonWriter* json, const FileVerdict& file) {
  json->BeginObject();
  json->Field("path", file.path);
  OptionalString(json, "container", file.container);
  OptionalNumber(json, "carried_at", file.carriedAt);
  json->Field("verdict", file.verdict);
  OptionalNumber(json, "packed_size", file.packedSize);
  OptionalNumber(json, "expanded_size", file.expandedSize);
  OptionalString(json, "check_record", file.checkRecord);
  OptionalString(json, "crc32", file.hasCrc ? Hex32(file.crc) : "");
  OptionalString(json, "error", file.error);
  json->Key("damage");
  if (file.damageRecord < 0) {
    json->Null();
  } else {
    json->BeginObject();
    json->Field("record", file.damageRecord);
    json->Field("offset", file.damageOffset);
    json->EndObject();
  }
  if (file.listed) {
    json->Key("records");
    json->BeginArray();
    for (const RecordVerdict& r : file.records) {
      json->BeginObject();
      json->Field("offset", r.offset);
      json->Field("type", r.type);
      json->Field("packed_size", r.packedSize);
      json->Field("expanded_size", r.expandedSize);
      json->EndObject();
    }
    json->EndArray();
  }
  json->EndObject();
}

void WriteFiles(JsonWriter* json, const std::vector<FileVerdict>& files) {
  json->Key("files");
  json->BeginArray();
  for (const FileVerdict& file : files) WriteFile(json, file);
  json->EndArray();
}

}  // namespace

std::string JsonReport(const std::string& command, int status, const Verdicts& verdicts) {
  JsonWriter json;
  json.BeginObject();
  json.Field("format", "setuppack-report");
  json.Field("version", JsonReportVersion);
  json.Field("command", command);
  json.Field("status", status);
  json.Field("ok", status == 0);
  WriteFiles(&json, verdicts.files);
  json.Key("seal");
  if (verdicts.sealPath.empty()) {
    json.Null();
  } else {
    json.BeginObject();
    json.Field("path", verdicts.sealPath);
    json.Field("verdict", verdicts.seal);
    json.EndObject();
  }
  json.Key("finds");
  json.BeginArray();
  for (const FindVerdict& find : verdicts.finds) {
    json.BeginObject();
    json.Field("where", find.where);
    json.Field("image", find.image);
    json.Field("kind", find.kind);
    WriteFiles(&json, find.files);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.Text();
}
