#include "KrNode.h"
#include "engine/expect.h"

#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Records which traversals reach it and when it is destroyed.
struct Probe : KrNode {
    Probe(Log* log, std::string n) : log(log) { name = std::move(n); }
    ~Probe() override { log->push_back("~" + name); }
    void Update() override {
        log->push_back("update " + name);
        KrNode::Update();
    }
    void Render() override {
        log->push_back("render " + name);
        KrNode::Render();
    }
    Log* log;
};

TEST(KrNode, TransformsTouchOnlyTheirOwnFieldsAndRotationsComposeXThenYThenZ) {
    KrNode node;
    node.SetPosition(1, 2, 3); // the position only, not the world matrix
    EXPECT_EQ(node.worldMatrix._41, 0);
    node.SetTranslation(10, 0, 0, 0);
    EXPECT_EQ(node.position, D3DXVECTOR3(10, 0, 0));
    node.RotateY(kPi / 2, 0); // after the translation
    ExpectVec(Apply({0, 0, 0}, node.worldMatrix), 0, 0, -10);
    // A translation afterwards replaces the rotation in the world matrix, not the rotation's.
    node.SetTranslation(1, 2, 3, 0);
    ExpectVec(Apply({1, 0, 0}, node.worldMatrix), 2, 2, 3);
    EXPECT_NEAR(node.rotationMatrix._13, -1, 1e-6);

    KrNode a, b;
    a.Rotate(0.3f, 0.5f, 0.7f, 0);
    b.RotateX(0.3f, 0);
    b.RotateY(0.5f, 0);
    b.RotateZ(0.7f, 0);
    ExpectMatrix(a.worldMatrix, b.worldMatrix, 1e-6f);
}

TEST(KrNode, ChildrenAreOwnedFoundInListOrderAndTraversedDepthFirst) {
    Log log;
    auto* root = new Probe(&log, "root");
    root->AddChild(nullptr);
    auto* a = root->AddChild(new Probe(&log, "a"));
    a->AddChild(new Probe(&log, "a1"));
    a->AddChild(new Probe(&log, "a2"));
    auto* b = root->AddChild(new Probe(&log, "b"));
    auto* b2 = root->AddChild(new Probe(&log, "b"));
    EXPECT_TRUE(a->GetParent() == root && root->GetChild(2) == b && root->FindChild("b") == b);
    EXPECT_TRUE(root->GetChild(4) == nullptr && root->GetChild(-1) == nullptr);
    root->KrNode::Render();
    EXPECT_EQ(log, (Log{"render a", "render a1", "render a2", "render b", "render b"}));
    log.clear();
    root->KrNode::Update();
    EXPECT_EQ(log, (Log{"update a", "update a1", "update a2", "update b", "update b"}));
    log.clear();
    root->Propagate();
    EXPECT_TRUE(log.empty());

    EXPECT_TRUE(root->RemoveChild(std::string("b"))); // the first of that name, deleted
    EXPECT_EQ(root->FindChild("b"), b2);
    EXPECT_TRUE(root->RemoveChild(b2) && !root->RemoveChild(b2));
    EXPECT_EQ(log, (Log{"~b", "~b"}));
    EXPECT_TRUE(root->RemoveChild(0) && !root->RemoveChild(1)); // the null entry, then nothing
    EXPECT_EQ(root->GetChildCount(), 1);
    log.clear();
    delete static_cast<KrNode*>(root);
    EXPECT_EQ(log, (Log{"~root", "~a", "~a1", "~a2"}));
}

} // namespace
