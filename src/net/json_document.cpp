#include "net/json_document.h"

#include <nlohmann/json.hpp>

struct JsonEngine {
  nlohmann::ordered_json root = nlohmann::ordered_json::object();
  bool undefinedRoot = false;
};

JsonDocument::JsonDocument() { init(); }
JsonDocument::JsonDocument(std::shared_ptr<JsonEngine> e) : engine(std::move(e)) {}
JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(JsonDocument&&) noexcept = default;
JsonDocument& JsonDocument::operator=(JsonDocument&&) noexcept = default;

void JsonDocument::destroy() { engine.reset(); }
JsonDocument JsonDocument::clone() const { return JsonDocument(engine); }
bool JsonDocument::init() {
  engine = std::make_shared<JsonEngine>();
  return true;
}
bool JsonDocument::parse(const std::string&, bool, ParseError*) { return false; }
bool JsonDocument::reset() { return false; }
std::string JsonDocument::text() const { return {}; }
bool JsonDocument::set(const std::string&, const std::string&, bool) { return false; }
bool JsonDocument::setExpression(const std::string&, const std::string&) { return false; }
bool JsonDocument::qualifyPath(std::string&) const { return false; }
bool JsonDocument::exists(const std::string&) const { return false; }
int JsonDocument::typeOf(const std::string&) const { return 0; }
std::string JsonDocument::getText(const std::string&, bool) const { return {}; }
int JsonDocument::keys(std::vector<std::string>& list, const std::string&) const {
  list.clear();
  return 0;
}
int JsonDocument::count(const std::string&) const { return 0; }
JsonDocument JsonDocument::subDocument(const std::string&) const { return JsonDocument(); }
bool JsonDocument::append(const std::string&, const std::string&, bool, bool) { return false; }
JsonDocument JsonDocument::itemDocument(int, const std::string&) const { return JsonDocument(); }
std::string JsonDocument::itemText(int, const std::string&, bool) const { return {}; }
bool JsonDocument::setItem(int, const std::string&, const std::string&, bool) { return false; }
bool JsonDocument::removeAt(int, const std::string&) { return false; }
bool JsonDocument::remove(const std::string&) { return false; }
bool JsonDocument::setNumber(const std::string&, double) { return false; }
double JsonDocument::number(const std::string&) const { return 0; }
std::string JsonDocument::jsonText(const std::string&) const { return {}; }
std::shared_ptr<JsonEngine> JsonDocument::engineRef() const { return engine; }
int JsonDocument::leafValues(std::vector<std::string>& list, const std::string&, bool) const {
  list.clear();
  return 0;
}
