#pragma once
#include <memory>
#include <string>
#include <vector>

// One JSON value read and changed through path expressions relative to the document root, in
// the member-expression form callers know from script: "total", "list[0]['vod_name']",
// "['data'][2]['名']", "data[2].名", "[\"data\"]", "list.length". A path may also name the root
// itself ("da", "da.list[0]"). The tree keeps object members in creation order, and
// serialisation is compact JSON with json2's escapes and JavaScript's number texts.
//
// Nothing here evaluates text as script: documents, values and expressions are read as JSON,
// with two allowances for what real servers send: an ill-formed UTF-8 sequence reads as U+FFFD,
// and a raw control character inside a string (a TAB above all; CR and LF excepted) reads as
// itself. Failures are not raised: an operation that cannot be done yields false, 0 or the empty
// text and leaves the document unchanged.
//
// A document is used by one thread at a time. Documents made by clone() share one value with
// the document they came from; every other document owns its value.

// The value a document (and its clones) reads and writes; its layout is private to the
// document code.
struct JsonEngine;

// Where a failed parse stopped, filled by parse() on request.
struct ParseError {
    int number = 0;          // 1002 (syntax error) after a failed parse; 0 otherwise, also for
                             // an empty text
    std::string source;      // "JsonDocument"
    std::string description; // what the parser found, in words
    std::string helpFile;    // always empty
    int helpContext = 0;     // always 0
    std::string text;        // the text around the position of the error
    int line = 0;            // 1-based line of the error (0 when the text was empty)
    int column = 0;          // 1-based column (bytes) of the error
};

class JsonDocument {
public:
    // The name a path may use for the document root.
    static constexpr const char* rootName = "da";
    // The text that joins leaf values where a single text is wanted.
    static constexpr const char* valueSeparator = "[2020年7月20日20时0分0秒]";

    // A new document holding the empty object {}.
    JsonDocument();
    ~JsonDocument();
    JsonDocument(JsonDocument&&) noexcept;
    JsonDocument& operator=(JsonDocument&&) noexcept;
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // 0: drops this document's reference to its value; every later operation fails until init().
    void destroy();
    // 1: a second document on the same value (changes through either are seen by both).
    JsonDocument clone() const;
    // 2: gives this document a fresh value, the empty object {}. Always succeeds.
    bool init();
    // 3: replaces the value by the JSON text (a leading UTF-8 byte-order mark and white space
    // around the value are accepted). Returns whether the root is now a value other than null.
    // A text that is not JSON leaves the root null ("null" from text()); an empty or blank text
    // leaves it undefined ("" from text()). With asLiteral false a text whose value is a string
    // holding a JSON number gives that number, and any other string fails (root null); with
    // asLiteral true the string itself is kept. error, when given, receives where parsing failed.
    bool parse(const std::string& text, bool asLiteral = false, ParseError* error = nullptr);
    // 4: empties the value to {} (clones see it too).
    bool reset();
    // 5: the whole document as compact JSON text; "" when the root is undefined.
    std::string text() const;
    // 6: with isJson false stores value as a text, exactly; with isJson true value is JSON text
    // (empty means "{}") which replaces the value at path, or, when path names an existing
    // object, is merged into it (text, boolean and missing members are replaced, object and array
    // members merged, a number member makes the merge fail). A JSON text whose value is a string
    // is read as parse() reads one. The parent of path must exist.
    bool set(const std::string& path, const std::string& value, bool isJson = false);
    // 7: stores the value of expression, which is read as JSON text as parse() reads it (never
    // run as script).
    bool setExpression(const std::string& path, const std::string& expression);
    // 8: rewrites path to name the root explicitly ("" -> "da", "[0]" -> "da[0]",
    // "list" -> "da.list"; a path that already starts with "da" and names a value stays).
    // Returns whether the path names a value other than null.
    bool qualifyPath(std::string& path) const;
    // 9: whether path names a value other than null.
    bool exists(const std::string& path) const;
    // 10: 0 missing or null, 1 boolean, 2 number, 4 object, 5 array, 6 text.
    int typeOf(const std::string& path) const;
    // 11: the value as script would show it: texts as they are, numbers as JavaScript writes
    // them, "true"/"false", arrays as their elements joined by ",", objects as
    // "[object Object]"; "" for null or missing. With asJson the value's JSON text instead.
    std::string getText(const std::string& path, bool asJson = false) const;
    // 12: the member names of the object at path, in order; returns their count (0 otherwise).
    int keys(std::vector<std::string>& list, const std::string& path) const;
    // 13: the length of the array at path; 0 for anything else.
    int count(const std::string& path) const;
    // 14: an independent document holding a copy of the value at path, read back from its JSON
    // text as parse() with asLiteral false does: a text holding a number gives that number, any
    // other text gives a null root ("null"), a missing path an undefined one ("").
    JsonDocument subDocument(const std::string& path) const;
    // 15: adds value (a text, or JSON text when isJson) at the end of the array at path, or at
    // its front when atFront; a missing or non-array member is first replaced by an empty array.
    bool append(const std::string& value, const std::string& path, bool isJson = false,
                bool atFront = false);
    // 16: as subDocument for element index of the value at path.
    JsonDocument itemDocument(int index, const std::string& path) const;
    // 17: element index of the value at path: its JSON text with asJson, otherwise the element
    // when it is a text ("" for anything else).
    std::string itemText(int index, const std::string& path, bool asJson = false) const;
    // 18: stores value (a text, or JSON text when isJson) as element index of the value at path.
    bool setItem(int index, const std::string& path, const std::string& value, bool isJson = false);
    // 19: removes element index of the array at path (a negative index counts from the end).
    // Returns whether an element was removed.
    bool removeAt(int index, const std::string& path);
    // 20: removes the member at path (an array element becomes null, the length stays).
    bool remove(const std::string& path);
    // 21: stores a number at path.
    bool setNumber(const std::string& path, double number);
    // 22: the value at path as a number: numbers as they are, booleans 1/0, texts by their
    // leading decimal number; 0 for anything else.
    double number(const std::string& path) const;
    // 23: the JSON text of the value at path; "" when missing.
    std::string jsonText(const std::string& path) const;
    // 24: a new reference to the value this document works on (null after destroy()).
    std::shared_ptr<JsonEngine> engineRef() const;
    // 25: the text, number and boolean members of the value at path, in order, as texts (as
    // getText gives them); with recursive the members of nested objects and arrays too, in
    // place. Returns their count.
    int leafValues(std::vector<std::string>& list, const std::string& path,
                   bool recursive = false) const;

private:
    explicit JsonDocument(std::shared_ptr<JsonEngine> engine);
    std::shared_ptr<JsonEngine> engine;
};
