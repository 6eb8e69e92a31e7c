#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/registry_script.h"

using registry_script::Key;
using registry_script::RootBlock;

namespace {

std::string ReadScript(const char* name) {
  std::ifstream in(std::string(VEXORIN_SOURCE_DIR) + "/com/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const Key* Child(const std::vector<Key>& keys, const std::string& name) {
  for (const Key& k : keys) {
    if (k.name == name) return &k;
  }
  return nullptr;
}

TEST(RegistryScriptTest, ClassScriptParsesToItsTable) {
  const std::string clsid = "{E3D03CDB-B405-4350-8B9A-29BEA8873B1C}";
  const std::string script = registry_script::Substitute(
      ReadScript("picture.rgs"), {{"APPID", "{APP}"}, {"MODULE", "C:\\It''s\\vexorin.dll"}});
  std::vector<RootBlock> blocks;
  std::string error;
  ASSERT_TRUE(registry_script::Parse(script, blocks, error)) << error;
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].root, "HKCR");
  const auto& keys = blocks[0].keys;
  ASSERT_EQ(keys.size(), 3u);

  const Key* versioned = Child(keys, "Veltrano.Vexorin.2");
  ASSERT_NE(versioned, nullptr);
  EXPECT_EQ(versioned->defaultValue, "Veltrano.Vexorin Class");
  ASSERT_NE(Child(versioned->children, "CLSID"), nullptr);
  EXPECT_EQ(Child(versioned->children, "CLSID")->defaultValue, clsid);
  const Key* plain = Child(keys, "Veltrano.Vexorin");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(Child(plain->children, "CurVer")->defaultValue, "Veltrano.Vexorin.2");

  const Key* classes = Child(keys, "CLSID");
  ASSERT_NE(classes, nullptr);
  EXPECT_TRUE(classes->noRemove);
  EXPECT_FALSE(classes->hasDefault);
  const Key* cls = Child(classes->children, clsid);
  ASSERT_NE(cls, nullptr);
  EXPECT_TRUE(cls->forceRemove);
  EXPECT_EQ(cls->defaultValue, "Veltrano.Vexorin Class");
  ASSERT_EQ(cls->values.size(), 1u);
  EXPECT_EQ(cls->values[0].name, "AppID");
  EXPECT_EQ(cls->values[0].data, "{APP}");
  const Key* programmable = Child(cls->children, "Programmable");
  ASSERT_NE(programmable, nullptr);
  EXPECT_TRUE(programmable->forceRemove);
  EXPECT_FALSE(programmable->hasDefault);
  const Key* server = Child(cls->children, "InprocServer32");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->defaultValue, "C:\\It's\\vexorin.dll");  // '' in a quoted string is one apostrophe
  ASSERT_EQ(server->values.size(), 1u);
  EXPECT_EQ(server->values[0].name, "ThreadingModel");
  EXPECT_EQ(server->values[0].data, "Apartment");
  EXPECT_EQ(Child(cls->children, "TypeLib")->defaultValue, "{B9EE6356-AC03-47BB-8897-C6DCA2730F99}");
  EXPECT_EQ(Child(cls->children, "ProgID")->defaultValue, "Veltrano.Vexorin.2");
  EXPECT_EQ(Child(cls->children, "VersionIndependentProgID")->defaultValue, "Veltrano.Vexorin");
}

TEST(RegistryScriptTest, AppIdScriptParses) {
  const std::string script = registry_script::Substitute(ReadScript("appid.rgs"), {{"appid", "{A}"}});
  std::vector<RootBlock> blocks;
  std::string error;
  ASSERT_TRUE(registry_script::Parse(script, blocks, error)) << error;
  const Key* appIds = Child(blocks.at(0).keys, "AppID");
  ASSERT_NE(appIds, nullptr);
  EXPECT_TRUE(appIds->noRemove);
  EXPECT_EQ(Child(appIds->children, "{A}")->defaultValue, "Vexorin");
  const Key* module = Child(appIds->children, "vexorin.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_FALSE(module->hasDefault);
  EXPECT_EQ(module->values.at(0).data, "{A}");
}

TEST(RegistryScriptTest, SubstitutionIgnoresCaseAndLeavesUnknownNames) {
  EXPECT_EQ(registry_script::Substitute("a %Module% b %module_raw% %OTHER% 100%", {{"MODULE", "m"}, {"MODULE_RAW", "r"}}),
            "a m b r %OTHER% 100%");
  EXPECT_EQ(registry_script::DoubleApostrophes("O'Brien's"), "O''Brien''s");
}

TEST(RegistryScriptTest, MalformedScriptsAreRefused) {
  const char* bad[] = {
      "HKCR { a = s 'unterminated }",
      "HKCR { a = s 'x'",
      "HKCR a",
      "HKCR { val v = s 'x' }",  // a value needs a key
      "HKCR { a = d '1' }",      // only strings
      "HKCR { a = s }",
      "{ }",
      "HKCR { NoRemove }",
  };
  for (const char* script : bad) {
    std::vector<RootBlock> blocks;
    std::string error;
    EXPECT_FALSE(registry_script::Parse(script, blocks, error)) << script;
    EXPECT_FALSE(error.empty()) << script;
  }
  std::string deep = "HKCR {";
  for (int i = 0; i < 200; ++i) deep += " k {";
  for (int i = 0; i < 200; ++i) deep += " }";
  deep += " }";
  std::vector<RootBlock> blocks;
  std::string error;
  EXPECT_FALSE(registry_script::Parse(deep, blocks, error)) << "nesting must be bounded";
}

}  // namespace
