// JSON text parsed by JsonDocument, then read and changed through path expressions.
// Input: document text \0 path \0 value.
#include "net/json_document.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto pieces = fuzzPieces(data, size, 3);
    const std::string& text = pieces[0];
    const std::string& path = pieces[1];
    const std::string& value = pieces[2];

    JsonDocument doc;
    doc.parse(text);
    doc.text();
    std::vector<std::string> list;
    doc.exists(path);
    doc.typeOf(path);
    doc.getText(path);
    doc.getText(path, true);
    doc.count(path);
    doc.keys(list, path);
    doc.leafValues(list, path, true);
    doc.number(path);
    doc.subDocument(path).text();
    doc.itemText(0, path, true);
    std::string qualified = path;
    doc.qualifyPath(qualified);

    doc.set(path, value);
    doc.set(path, value, true);
    doc.setExpression(path, value);
    doc.append(value, path);
    doc.append(value, path, true, true);
    doc.setItem(1, path, value);
    doc.removeAt(-1, path);
    doc.remove(path);
    doc.setNumber(path, static_cast<double>(size));
    doc.text();
    return 0;
}
