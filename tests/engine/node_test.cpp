#include "KrMath.h"
#include "KrNode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr float kPi = 3.14159265358979f;

// Records which traversals reach it and when it is destroyed.
struct Probe : KrNode {
    Probe(std::vector<std::string>* log, std::string n) : log(log) { name = std::move(n); }
    ~Probe() override { log->push_back("~" + name); }
    void Update() override {
        log->push_back("update " + name);
        KrNode::Update();
    }
    void Render() override {
        log->push_back("render " + name);
        KrNode::Render();
    }
    std::vector<std::string>* log;
};

void ExpectIdentity(const D3DXMATRIX& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(m(r, c), r == c ? 1.0f : 0.0f) << r << "," << c;
}

TEST(KrNode, StartsAsAnUnnamedEntityAtTheOrigin) {
    KrNode node;
    EXPECT_EQ(node.name, "Entity");
    EXPECT_EQ(*node.GetScale(), D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(*node.GetPosition(), D3DXVECTOR3(0, 0, 0));
    ExpectIdentity(*node.GetWorldMatrix(0));
    ExpectIdentity(node.rotationMatrix);
    EXPECT_EQ(node.GetParent(), nullptr);
    EXPECT_EQ(node.GetChildCount(), 0);
}

TEST(KrNode, PositionAndTranslationDifferInWhatTheyTouch) {
    KrNode node;
    node.SetPosition(1, 2, 3);
    ExpectIdentity(node.worldMatrix);
    node.SetTranslation(4, 5, 6, 0);
    EXPECT_EQ(node.position, D3DXVECTOR3(4, 5, 6));
    EXPECT_EQ(node.worldMatrix._41, 4);
    EXPECT_EQ(node.worldMatrix._42, 5);
    EXPECT_EQ(node.worldMatrix._43, 6);

    // Only space 0 is defined; others leave the transform alone.
    node.SetTranslation(7, 8, 9, 1);
    node.RotateY(1.0f, 2);
    EXPECT_EQ(node.position, D3DXVECTOR3(4, 5, 6));
    EXPECT_EQ(node.worldMatrix._41, 4);
    EXPECT_EQ(node.worldMatrix._11, 1);
}

TEST(KrNode, ScaleMultipliesTheStoredScale) {
    KrNode node;
    node.Scale(2);
    EXPECT_EQ(node.scale, D3DXVECTOR3(0, 0, 0));
    node.SetScale(D3DXVECTOR3(1, 2, 3));
    node.Scale(2, 3, 4);
    EXPECT_EQ(node.scale, D3DXVECTOR3(2, 6, 12));
}

TEST(KrNode, RotationsPostMultiplyTheWorldMatrix) {
    KrNode node;
    node.SetTranslation(10, 0, 0, 0);
    node.RotateY(kPi / 2, 0);
    D3DXVECTOR3 origin(0, 0, 0), moved;
    D3DXVec3TransformCoord(&moved, &origin, &node.worldMatrix);
    EXPECT_NEAR(moved.x, 0, 1e-5);
    EXPECT_NEAR(moved.y, 0, 1e-5);
    EXPECT_NEAR(moved.z, -10, 1e-5);

    // A translation afterwards replaces the rotation in the world matrix but not the
    // rotation matrix.
    node.SetTranslation(1, 2, 3, 0);
    EXPECT_EQ(node.worldMatrix._11, 1);
    EXPECT_NEAR(node.rotationMatrix._13, -1, 1e-6);
}

TEST(KrNode, RotateComposesXThenYThenZ) {
    KrNode a, b;
    a.Rotate(0.3f, 0.5f, 0.7f, 0);
    b.RotateX(0.3f, 0);
    b.RotateY(0.5f, 0);
    b.RotateZ(0.7f, 0);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.worldMatrix(r, c), b.worldMatrix(r, c), 1e-6);
    KrNode axis;
    axis.RotateAxis(D3DXVECTOR3(0, 1, 0), 0.5f, 0);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            D3DXMATRIX ry;
            MatrixRotationY(&ry, 0.5f);
            EXPECT_NEAR(axis.worldMatrix(r, c), ry(r, c), 1e-6);
        }
}

TEST(KrNode, ChildLookupsFollowListOrderAndSkipNullEntries) {
    std::vector<std::string> log;
    KrNode root;
    root.AddChild(nullptr);
    auto* a = root.AddChild(new Probe(&log, "a"));
    auto* b = root.AddChild(new Probe(&log, "b"));
    auto* a2 = root.AddChild(new Probe(&log, "a"));
    EXPECT_EQ(a->GetParent(), &root);
    EXPECT_EQ(root.GetChildCount(), 4);
    EXPECT_EQ(root.GetChild(0), nullptr);
    EXPECT_EQ(root.GetChild(2), b);
    EXPECT_EQ(root.GetChild(4), nullptr);
    EXPECT_EQ(root.GetChild(-1), nullptr);
    EXPECT_EQ(root.FindChild("a"), a);
    EXPECT_EQ(root.FindChild("z"), nullptr);

    EXPECT_TRUE(root.RemoveChild(std::string("a")));
    EXPECT_EQ(log, std::vector<std::string>{"~a"});
    EXPECT_EQ(root.FindChild("a"), a2);
    EXPECT_EQ(root.GetChildCount(), 3);
    EXPECT_TRUE(root.RemoveChild(b));
    EXPECT_FALSE(root.RemoveChild(b));
    EXPECT_TRUE(root.RemoveChild(0)); // the null entry
    EXPECT_FALSE(root.RemoveChild(1));
    EXPECT_EQ(root.GetChildCount(), 1);
    EXPECT_EQ(root.GetChild(0), a2);
}

TEST(KrNode, TraversalsReachOnlyTheirOwnOperation) {
    std::vector<std::string> log;
    KrNode root;
    auto* a = root.AddChild(new Probe(&log, "a"));
    a->AddChild(new Probe(&log, "a1"));
    root.AddChild(nullptr);
    root.AddChild(new Probe(&log, "b"));
    root.Render();
    EXPECT_EQ(log, (std::vector<std::string>{"render a", "render a1", "render b"}));
    log.clear();
    root.Update();
    EXPECT_EQ(log, (std::vector<std::string>{"update a", "update a1", "update b"}));
    log.clear();
    root.Propagate();
    EXPECT_TRUE(log.empty());
}

TEST(KrNode, DestroyingARootDestroysEachNodeOfItsSubtreeOnce) {
    std::vector<std::string> log;
    {
        auto* root = new Probe(&log, "root");
        auto* a = root->AddChild(new Probe(&log, "a"));
        a->AddChild(new Probe(&log, "a1"));
        a->AddChild(new Probe(&log, "a2"));
        root->AddChild(new Probe(&log, "b"));
        delete static_cast<KrNode*>(root);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"~root", "~a", "~a1", "~a2", "~b"}));
}

} // namespace
