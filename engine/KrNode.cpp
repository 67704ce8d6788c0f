#include "KrNode.h"

#include "KrMath.h"

#include <iterator>

// Only space 0 is defined; other selectors leave the transform alone.
static bool IsLocalSpace(int space) {
    return space == 0;
}

KrNode::KrNode() : name("Entity") {
    MatrixIdentity(&worldMatrix);
    MatrixIdentity(&rotationMatrix);
}

KrNode::~KrNode() {
    parent = nullptr;
    for (auto it = children.begin(); it != children.end();) {
        if (*it) {
            delete *it;
            *it = nullptr;
        }
        it = children.erase(it);
    }
}

KrNode* KrNode::GetParent() {
    return parent;
}

void KrNode::SetPosition(float x, float y, float z) {
    position = D3DXVECTOR3(x, y, z);
}

void KrNode::SetPosition(const D3DXVECTOR3& p) {
    position = p;
}

D3DXVECTOR3* KrNode::GetPosition() {
    return &position;
}

void KrNode::SetTranslation(const D3DXVECTOR3& t, int space) {
    if (!IsLocalSpace(space))
        return;
    MatrixIdentity(&worldMatrix);
    worldMatrix._41 = t.x;
    worldMatrix._42 = t.y;
    worldMatrix._43 = t.z;
    position = t;
}

void KrNode::SetTranslation(float x, float y, float z, int space) {
    SetTranslation(D3DXVECTOR3(x, y, z), space);
}

void KrNode::Scale(float sx, float sy, float sz) {
    scale = D3DXVECTOR3(scale.x * sx, scale.y * sy, scale.z * sz);
}

void KrNode::Scale(float s) {
    scale = scale * s;
}

void KrNode::SetScale(const D3DXVECTOR3& s) {
    scale = s;
}

D3DXVECTOR3* KrNode::GetScale() {
    return &scale;
}

void KrNode::ApplyRotation() {
    D3DXMATRIX product;
    MatrixMultiply(&product, &worldMatrix, &rotationMatrix);
    MatrixCopy(&worldMatrix, &product);
}

void KrNode::RotateZ(float theta, int space) {
    if (!IsLocalSpace(space))
        return;
    MatrixRotationZ(&rotationMatrix, theta);
    ApplyRotation();
}

void KrNode::RotateX(float theta, int space) {
    if (!IsLocalSpace(space))
        return;
    MatrixRotationX(&rotationMatrix, theta);
    ApplyRotation();
}

void KrNode::RotateY(float theta, int space) {
    if (!IsLocalSpace(space))
        return;
    MatrixRotationY(&rotationMatrix, theta);
    ApplyRotation();
}

void KrNode::Rotate(float ax, float ay, float az, int /*space*/) {
    MatrixRotationXYZ(&rotationMatrix, ax, ay, az);
    ApplyRotation();
}

void KrNode::Rotate(const D3DXVECTOR3& angles, int space) {
    Rotate(angles.x, angles.y, angles.z, space);
}

void KrNode::RotateAxis(const D3DXVECTOR3& axis, float theta, int space) {
    if (!IsLocalSpace(space))
        return;
    MatrixRotationAxis(&rotationMatrix, &axis, theta);
    ApplyRotation();
}

D3DXMATRIX* KrNode::GetWorldMatrix(int /*space*/) {
    return &worldMatrix;
}

KrNode* KrNode::AddChild(KrNode* child) {
    children.push_back(child);
    if (child)
        child->parent = this;
    return child;
}

int KrNode::GetChildCount() {
    return static_cast<int>(children.size());
}

KrNode* KrNode::FindChild(std::string childName) {
    for (KrNode* child : children)
        if (child && child->name == childName)
            return child;
    return nullptr;
}

KrNode* KrNode::GetChild(int index) {
    if (index < 0 || index >= GetChildCount())
        return nullptr;
    return *std::next(children.begin(), index);
}

bool KrNode::EraseEntry(std::list<KrNode*>::iterator entry) {
    if (entry == children.end())
        return false;
    delete *entry;
    children.erase(entry);
    return true;
}

bool KrNode::RemoveChild(int index) {
    if (index < 0 || index >= GetChildCount())
        return false;
    return EraseEntry(std::next(children.begin(), index));
}

bool KrNode::RemoveChild(const std::string& childName) {
    auto it = children.begin();
    while (it != children.end() && !(*it && (*it)->name == childName))
        ++it;
    return EraseEntry(it);
}

bool KrNode::RemoveChild(KrNode* child) {
    auto it = children.begin();
    while (it != children.end() && *it != child)
        ++it;
    return EraseEntry(it);
}

void KrNode::Update() {
    for (KrNode* child : children)
        if (child)
            child->Update();
}

void KrNode::Render() {
    for (KrNode* child : children)
        if (child)
            child->Render();
}

void KrNode::Propagate() {
    for (KrNode* child : children)
        if (child)
            child->Propagate();
}
