#include "cli/listing_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/audio_details.h"
#include "cli/console_output.h"
#include "cli/name_escape.h"

namespace larkspool::cli {
namespace {

using Json = nlohmann::ordered_json;

// The layout the listing has always had: one line, ", " between items and
// ": " after keys. Scalars are the library's, so strings are escaped and
// fractions written in their shortest exact form.
void AppendJson(const Json& value, std::string& out) {
  if (value.is_object()) {
    out += '{';
    const char* separator = "";
    for (const auto& [key, item] : value.items()) {
      out += separator;
      out += Json(key).dump();
      out += ": ";
      AppendJson(item, out);
      separator = ", ";
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    const char* separator = "";
    for (const Json& item : value) {
      out += separator;
      AppendJson(item, out);
      separator = ", ";
    }
    out += ']';
  } else {
    out += value.dump();
  }
}

Json AudioJson(const std::optional<WaveInfo>& audio) {
  if (!audio) return nullptr;
  return Json{{"format", WaveFormatName(audio->formatTag)},
              {"format_tag", audio->formatTag},
              {"rate", audio->sampleRate},
              {"channels", audio->channels},
              {"bits", audio->bitsPerSample},
              {"duration_s", audio->DurationSeconds()}};
}

// Pads to `width` characters; a UTF-8 sequence counts as one.
std::string PadRight(std::string text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  if (characters < width) text.append(width - characters, ' ');
  return text;
}

}  // namespace

void PrintText(const BackupListing& listing) {
  for (const ListedEntry& entry : listing.entries) {
    Print(stdout, "%u\t%s\n", static_cast<unsigned>(entry.size), EscapeName(entry.name).c_str());
  }
}

void PrintLong(const BackupListing& listing) {
  for (const ListedEntry& entry : listing.entries) {
    const std::optional<WaveInfo>& audio = entry.audio;
    const std::string duration = audio ? FormatDuration(audio->DurationSeconds()) : "-";
    const std::string format = PadRight(audio ? WaveFormatName(audio->formatTag) : "-", 10);
    const std::string rate = audio ? std::to_string(audio->sampleRate) : "-";
    Print(stdout, "%10u  %8s  %s  %6s  %s\n", static_cast<unsigned>(entry.size), duration.c_str(),
          format.c_str(), rate.c_str(), EscapeName(entry.name).c_str());
  }
}

void PrintJson(const BackupListing& listing) {
  Json entries = Json::array();
  for (const ListedEntry& entry : listing.entries) {
    entries.push_back(Json{{"name", EscapeName(entry.name)},
                           {"size", entry.size},
                           {"offset", entry.offset},
                           {"audio", AudioJson(entry.audio)}});
  }
  const Json root{{"kind", static_cast<unsigned>(listing.kind)},
                  {"protected", listing.passwordProtected},
                  {"entries", std::move(entries)}};
  std::string out;
  AppendJson(root, out);
  Print(stdout, "%s\n", out.c_str());
}

}  // namespace larkspool::cli
