// Base class of every scene object: a name, a stored scale, a position, a world and a
// rotation matrix, a parent and an owned list of children.
#pragma once

#include "d3dx9.h"

#include <list>
#include <string>

class KrNode {
public:
    KrNode();
    virtual ~KrNode();

    KrNode(const KrNode&) = delete;
    KrNode& operator=(const KrNode&) = delete;

    virtual KrNode* GetParent();
    virtual void SetPosition(float x, float y, float z);
    virtual void SetPosition(const D3DXVECTOR3& p);
    virtual D3DXVECTOR3* GetPosition();
    virtual void SetTranslation(const D3DXVECTOR3& t, int space);
    virtual void SetTranslation(float x, float y, float z, int space);
    virtual void Scale(float sx, float sy, float sz);
    virtual void Scale(float s);
    virtual void SetScale(const D3DXVECTOR3& s);
    virtual D3DXVECTOR3* GetScale();
    virtual void RotateZ(float theta, int space);
    virtual void RotateX(float theta, int space);
    virtual void RotateY(float theta, int space);
    virtual void Rotate(float ax, float ay, float az, int space);
    virtual void Rotate(const D3DXVECTOR3& angles, int space);
    virtual void RotateAxis(const D3DXVECTOR3& axis, float theta, int space);
    virtual D3DXMATRIX* GetWorldMatrix(int space);
    virtual KrNode* AddChild(KrNode* child);
    virtual int GetChildCount();
    virtual KrNode* FindChild(std::string name);
    virtual KrNode* GetChild(int index);
    virtual bool RemoveChild(int index);
    virtual bool RemoveChild(const std::string& name);
    virtual bool RemoveChild(KrNode* child);
    virtual void Update();
    virtual void Render();
    virtual void Propagate();

    std::string name;
    D3DXVECTOR3 scale;
    D3DXVECTOR3 position;
    D3DXMATRIX worldMatrix;
    D3DXMATRIX rotationMatrix;
    KrNode* parent = nullptr;
    std::list<KrNode*> children;

private:
    // Post-multiplies the world matrix by the rotation just built.
    void ApplyRotation();
    bool EraseEntry(std::list<KrNode*>::iterator entry);
};
