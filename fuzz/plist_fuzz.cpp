// Fuzz target for the property-list and keyed-archive readers (what Library files of a backup or
// of another version may hold): any bytes must be read or refused cleanly; a property list that
// is read writes back in both formats, and its binary form is a fixed point after one round; an
// archive of our classes (in fields, arrays, maps and maps of arrays) that is read archives again into
// one that reads.
//
// With an empty corpus folder, seeds are made at start by the writers themselves (no file is kept
// in the source tree).

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/seed_corpus.h"
#include "platform/files/file_ops.h"
#include "platform/plist/keyed_archive.h"
#include "platform/plist/property_list.h"

namespace {

namespace fs = std::filesystem;
using foundation::Bytes;
using foundation::Value;

void require(bool condition) {
  if (!condition) std::abort();
}

// A record with a field of every kind the decoder reads, holding more records.
struct Record : plist::Archivable {
  static constexpr std::string_view kClassName = "FuzzRecord";
  std::int64_t count = 0;
  double ratio = 0;
  bool flag = false;
  std::string name;
  Bytes blob;
  foundation::Date when{};
  Value extra;
  std::shared_ptr<Record> child;
  std::vector<std::shared_ptr<Record>> items;
  std::vector<std::pair<std::string, std::shared_ptr<Record>>> named;
  std::vector<std::pair<std::string, std::vector<std::shared_ptr<Record>>>> grouped;

  std::string className() const override { return std::string(kClassName); }
  void encodeWithCoder(plist::Coder& coder) const override {
    coder.encodeInt("count", count);
    coder.encodeDouble("ratio", ratio);
    coder.encodeBool("flag", flag);
    coder.encodeString("name", name);
    coder.encodeData("blob", blob);
    coder.encodeDate("when", when);
    coder.encodeValue("extra", extra);
    coder.encodeObject("child", child);
    coder.encodeObjectArray("items", items);
    coder.encodeObjectMap("named", named);
    coder.encodeObjectArrayMap("grouped", grouped);
  }
  static plist::ObjectPtr decode(plist::Decoder& decoder) {
    auto record = std::make_shared<Record>();
    record->count = decoder.decodeInteger("count").value_or(0);
    record->ratio = decoder.decodeDouble("ratio").value_or(0);
    record->flag = decoder.decodeBool("flag").value_or(false);
    record->name = decoder.decodeString("name").value_or("");
    record->blob = decoder.decodeData("blob").value_or(Bytes{});
    record->when = decoder.decodeDate("when").value_or(foundation::Date{});
    record->extra = decoder.decodeValue("extra");
    record->child = decoder.decodeObjectOfClass<Record>("child");
    record->items =
        decoder.decodeObjectArray<Record>("items").value_or(std::vector<std::shared_ptr<Record>>{});
    record->named = decoder.decodeObjectMap<Record>("named").value_or(decltype(named){});
    record->grouped = decoder.decodeObjectArrayMap<Record>("grouped").value_or(decltype(grouped){});
    // The same maps read again with every key kept, whatever its kind.
    (void)decoder.decodeObjectArrayEntries<Record>("grouped");
    (void)decoder.decodeEntries("named", plist::EntryKeys::kAll);
    return record;
  }
};

const plist::ClassRegistry& registry() {
  static plist::ClassRegistry* classes = [] {
    auto* made = new plist::ClassRegistry();
    made->add(std::string(Record::kClassName), &Record::decode);
    return made;
  }();
  return *classes;
}

Value sampleValue() {
  foundation::Dictionary dictionary;
  dictionary.set("text", Value("Маша"));
  dictionary.set("number", Value(std::int64_t{42}));
  dictionary.set("real", Value(2.5));
  dictionary.set(
      "list", Value(foundation::Array{Value(true), Value(Bytes{1, 2, 3}), Value(foundation::Date{4.7e8})}));
  return Value(std::move(dictionary));
}

void writeSeeds(const fs::path& corpus) {
  const auto save = [&](const std::string& name, const foundation::Result<Bytes>& bytes) {
    if (bytes) (void)files::writeAtomic(corpus / name, *bytes);
  };
  save("seed.bplist", plist::writePropertyList(sampleValue(), plist::Format::Binary));
  save("seed.xml", plist::writePropertyList(sampleValue(), plist::Format::Xml));
  auto root = std::make_shared<Record>();
  root->count = -7, root->ratio = 0.25, root->flag = true, root->name = "root", root->blob = {9, 8};
  root->extra = sampleValue();
  root->child = std::make_shared<Record>();
  root->items = {root->child, std::make_shared<Record>()};
  root->named = {{"first", root->child}};
  root->grouped = {{"both", root->items}, {"none", {}}};
  save("seed.archive", plist::archiveRootObject(*root));
  save("seed-value.archive", plist::archiveRootValue(sampleValue()));
}

void checkPropertyList(const std::uint8_t* data, size_t size) {
  const auto value = plist::readPropertyList(data, size);
  if (!value || !plist::validatePropertyList(*value)) return;
  const auto binary = plist::writePropertyList(*value, plist::Format::Binary);
  require(binary.ok());
  const auto again = plist::readPropertyList(*binary);
  require(again.ok());
  const auto rewritten = plist::writePropertyList(*again, plist::Format::Binary);
  require(rewritten.ok() && *rewritten == *binary);
  const auto xml = plist::writePropertyList(*value, plist::Format::Xml);
  require(xml.ok());
  require(plist::readPropertyList(*xml).ok());
}

void checkArchive(const Bytes& bytes) {
  (void)plist::unarchiveRootValue(bytes);
  const auto root = plist::unarchiveRootObject(bytes, registry());
  if (!root || !*root) return;
  const auto archived = plist::archiveRootObject(**root);
  if (archived) require(plist::unarchiveRootObject(*archived, registry()).ok());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_support::seedEmptyCorpus(*argc, *argv, writeSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  checkPropertyList(data, size);
  checkArchive(Bytes(data, data + size));
  return 0;
}
