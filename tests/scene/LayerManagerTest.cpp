#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestComp.h"

using namespace Quorvane::Core;
using QvTest::TestComp;

namespace {

RenderLayer* NewLayer(const std::string& id) {
    auto* layer = new RenderLayer(nullptr, kAVLayer, false);
    rapidjson::Document doc;
    doc.Parse(("{\"uuid\":\"" + id + "\"}").c_str());
    layer->loadFromJson(doc);
    return layer;
}

std::string Ids(const LayerManager& list) {
    std::string ids;
    for (RenderLayer* layer : list.layers()) ids += (ids.empty() ? "" : ",") + layer->layerID();
    return ids;
}

}  // namespace

TEST(LayerManager, AddLayerPlacesMovesAndRunsHooks) {
    TestComp comp(100, 100, 25);
    RenderLayer* l1 = NewLayer("L1");
    RenderLayer* l2 = NewLayer("L2");
    RenderLayer* l3 = NewLayer("L3");
    comp.addLayer(nullptr, false);
    comp.addLayer(l1, true);
    EXPECT_EQ(Ids(comp), "L1");
    comp.addLayer(l2, false);
    comp.addLayer(l3, false);
    EXPECT_EQ(comp.added, 3);
    EXPECT_EQ(l2->parentCompLayer(), &comp);

    // Adding a layer already in the list moves it on top; both hooks run.
    comp.addLayer(l1, false);
    EXPECT_EQ(Ids(comp), "L2,L3,L1");
    EXPECT_EQ(comp.removed, 1);
    EXPECT_EQ(comp.added, 4);

    RenderLayer* x = NewLayer("X");
    comp.addLayer(x, true);
    EXPECT_EQ(Ids(comp), "X,L2,L3,L1");
}

TEST(LayerManager, AddLayerTakesTheLayerOutOfItsOldComposition) {
    TestComp a(100, 100, 25);
    TestComp b(100, 100, 25);
    RenderLayer* l = NewLayer("L");
    a.addLayer(l, false);
    b.addLayer(l, false);
    EXPECT_EQ(Ids(a), "");
    EXPECT_EQ(a.removed, 1);
    EXPECT_EQ(Ids(b), "L");
    EXPECT_EQ(l->parentCompLayer(), &b);
}

TEST(LayerManager, InsertAndInsetPlaceWithoutHooks) {
    TestComp comp(100, 100, 25);
    comp.addLayer(NewLayer("L1"), false);
    comp.addLayer(NewLayer("L2"), false);
    comp.addLayer(NewLayer("L3"), false);
    const int added = comp.added;

    comp.insertLayerAt(NewLayer("A"), 0);
    EXPECT_EQ(Ids(comp), "A,L1,L2,L3");
    EXPECT_EQ(comp.added, added);
    comp.insertLayerAt(NewLayer("B"), 4);  // at the end: addLayer
    comp.insertLayerAt(NewLayer("C"), 50);
    EXPECT_EQ(Ids(comp), "A,L1,L2,L3,B,C");
    EXPECT_EQ(comp.added, added + 2);

    TestComp two(10, 10, 25);
    RenderLayer* l1 = NewLayer("L1");
    two.addLayer(l1, false);
    two.addLayer(NewLayer("L2"), false);
    two.insetLayerBelow(NewLayer("X"), l1);
    EXPECT_EQ(Ids(two), "X,L1,L2");
    two.insetLayerAbove(NewLayer("Y"), l1);
    EXPECT_EQ(Ids(two), "X,L1,Y,L2");
    RenderLayer stranger(nullptr, kAVLayer, false);
    two.insetLayerBelow(NewLayer("P"), &stranger);
    two.insetLayerAbove(NewLayer("Q"), nullptr);
    EXPECT_EQ(Ids(two), "P,X,L1,Y,L2,Q");
    two.insetLayerAbove(nullptr, l1);
    EXPECT_EQ(two.layers().size(), 6u);
}

TEST(LayerManager, LookupsAndRemoval) {
    TestComp comp(100, 100, 25);
    RenderLayer* low = NewLayer("same");
    RenderLayer* mid = NewLayer("mid");
    RenderLayer* high = NewLayer("same");
    comp.addLayer(low, false);
    comp.addLayer(mid, false);
    comp.addLayer(high, false);

    EXPECT_EQ(comp.layer("same"), low);  // the lower of two equal ids answers
    EXPECT_EQ(comp.nextLayer("same"), mid);
    EXPECT_EQ(comp.lastLayer("same"), nullptr);
    EXPECT_EQ(comp.lastLayer("mid"), low);
    EXPECT_EQ(comp.nextLayer("mid"), high);
    EXPECT_EQ(comp.layer(""), nullptr);
    EXPECT_EQ(comp.nextLayer(""), nullptr);
    EXPECT_EQ(comp.lastLayer("none"), nullptr);

    RenderLayer stranger(nullptr, kAVLayer, false);
    const int removed = comp.removed;
    EXPECT_FALSE(comp.removeLayer(&stranger));
    EXPECT_EQ(comp.removed, removed);
    EXPECT_TRUE(comp.removeLayer(mid));
    EXPECT_EQ(comp.removed, removed + 1);
    EXPECT_EQ(comp.nextLayer("same"), high);
    // The caller owns a removed layer; its parent composition is unchanged.
    EXPECT_EQ(mid->parentCompLayer(), &comp);
    delete mid;

    comp.setPrefix("7&");
    EXPECT_EQ(comp.getPrefix(), "7&");
}
