// SPDX-License-Identifier: ISC
// The bundle as lilv parses it from LV2_PATH: what hosts build their
// controls, automation lanes and preset menus from.
#include <lilv/lilv.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr const char* URI = ZENDRIK_URI;
constexpr const char* LV2 = "http://lv2plug.in/ns/lv2core#";
constexpr const char* UNITS = "http://lv2plug.in/ns/extensions/units#";

class Metadata : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        world_ = lilv_world_new();
        lilv_world_load_all(world_);
        LilvNode* uri = lilv_new_uri(world_, URI);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
    }
    static void TearDownTestSuite() { lilv_world_free(world_); }

    LilvNode* node(const std::string& prefix, const char* name) const
    {
        return lilv_new_uri(world_, (prefix + name).c_str());
    }
    const LilvPort* port(const char* symbol) const
    {
        LilvNode* s = lilv_new_string(world_, symbol);
        const LilvPort* p = lilv_plugin_get_port_by_symbol(plugin_, s);
        lilv_node_free(s);
        return p;
    }
    std::string unit(const LilvPort* p) const
    {
        LilvNode* pred = node(UNITS, "unit");
        LilvNodes* units = lilv_port_get_value(plugin_, p, pred);
        lilv_node_free(pred);
        std::string result = units ? lilv_node_as_uri(lilv_nodes_get_first(units)) : "";
        lilv_nodes_free(units);
        return result;
    }
    bool has_property(const LilvPort* p, const char* property) const
    {
        LilvNode* prop = node(LV2, property);
        const bool has = lilv_port_has_property(plugin_, p, prop);
        lilv_node_free(prop);
        return has;
    }

    static LilvWorld* world_;
    static const LilvPlugin* plugin_;
};

LilvWorld* Metadata::world_ = nullptr;
const LilvPlugin* Metadata::plugin_ = nullptr;

TEST_F(Metadata, DescribesThePluginAndItsModule)
{
    ASSERT_NE(plugin_, nullptr) << "LV2_PATH does not lead to " << URI;
    ASSERT_TRUE(lilv_plugin_verify(plugin_));
    LilvNode* name = lilv_plugin_get_name(plugin_);
    EXPECT_STREQ(lilv_node_as_string(name), "zendrik");
    lilv_node_free(name);
    LilvNode* author = lilv_plugin_get_author_name(plugin_);
    ASSERT_NE(author, nullptr) << "no maintainer";
    lilv_node_free(author);

    const std::string binary = lilv_node_as_uri(lilv_plugin_get_library_uri(plugin_));
    EXPECT_EQ(binary.substr(binary.rfind('/') + 1), "zendrik" ZENDRIK_MODULE_SUFFIX);
    EXPECT_EQ(lilv_plugin_get_num_ports(plugin_), 5u);

    LilvNode* rt = node(LV2, "hardRTCapable");
    LilvNodes* optional = lilv_plugin_get_optional_features(plugin_);
    EXPECT_TRUE(lilv_nodes_contains(optional, rt));
    lilv_nodes_free(optional);
    lilv_node_free(rt);
    LilvNodes* required = lilv_plugin_get_required_features(plugin_);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
}

TEST_F(Metadata, PortsHaveTheirNumbersUnitsRangesAndDefaults)
{
    ASSERT_NE(plugin_, nullptr);
    struct Expected {
        const char* symbol;
        uint32_t index;
        float min, max, def;
        const char* unit;
    };
    LilvNode* control = node(LV2, "ControlPort");
    LilvNode* audio = node(LV2, "AudioPort");
    LilvNode* input = node(LV2, "InputPort");
    LilvNode* output = node(LV2, "OutputPort");
    for (Expected e :
         {Expected{"frequency", 0, 20.0f, 20000.0f, 1000.0f, "hz"}, Expected{"level", 1, 0.0f, 1.0f, 0.5f, "coef"},
          Expected{"enable", 2, 0.0f, 1.0f, 0.0f, nullptr}}) {
        SCOPED_TRACE(e.symbol);
        const LilvPort* p = port(e.symbol);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(lilv_port_get_index(plugin_, p), e.index);
        EXPECT_TRUE(lilv_port_is_a(plugin_, p, control) && lilv_port_is_a(plugin_, p, input));
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin_, p, &def, &min, &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_EQ(lilv_node_as_float(min), e.min);
        EXPECT_EQ(lilv_node_as_float(max), e.max);
        EXPECT_EQ(lilv_node_as_float(def), e.def);
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        EXPECT_EQ(unit(p), e.unit ? std::string(UNITS) + e.unit : "");
    }
    EXPECT_TRUE(has_property(port("enable"), "toggled"));
    EXPECT_TRUE(has_property(port("enable"), "integer"));

    const LilvPort* in = port("in");
    const LilvPort* out = port("out");
    ASSERT_TRUE(in && out);
    EXPECT_EQ(lilv_port_get_index(plugin_, in), 3u);
    EXPECT_EQ(lilv_port_get_index(plugin_, out), 4u);
    EXPECT_TRUE(lilv_port_is_a(plugin_, in, audio) && lilv_port_is_a(plugin_, in, input));
    EXPECT_TRUE(lilv_port_is_a(plugin_, out, audio) && lilv_port_is_a(plugin_, out, output));
    lilv_node_free(control);
    lilv_node_free(audio);
    lilv_node_free(input);
    lilv_node_free(output);
}

TEST_F(Metadata, PresetsAreListedWithTheirLabels)
{
    ASSERT_NE(plugin_, nullptr);
    LilvNode* preset_class = lilv_new_uri(world_, "http://lv2plug.in/ns/ext/presets#Preset");
    LilvNode* label = lilv_new_uri(world_, "http://www.w3.org/2000/01/rdf-schema#label");
    LilvNodes* presets = lilv_plugin_get_related(plugin_, preset_class);
    std::set<std::string> labels;
    LILV_FOREACH(nodes, i, presets)
    {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(world_, preset);
        LilvNodes* names = lilv_world_find_nodes(world_, preset, label, nullptr);
        ASSERT_NE(names, nullptr);
        labels.insert(lilv_node_as_string(lilv_nodes_get_first(names)));
        lilv_nodes_free(names);
    }
    lilv_nodes_free(presets);
    lilv_node_free(label);
    lilv_node_free(preset_class);
    EXPECT_GE(labels.size(), 3u);
    EXPECT_EQ(labels.count("Broadcast bleep (1 kHz)"), 1u);
}

} // namespace
