#include "gl_program.h"

#include "d3dx9.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// Argument sources as the programs name them; every other Direct3D source reads white.
constexpr uint8_t kDiffuse = 0, kCurrent = 1, kTexture = 2, kWhite = 3, kSpecular = 4;
constexpr uint8_t kComplement = 0x10, kReplicate = 0x20;

uint8_t CanonicalOp(DWORD op) {
    switch (op) {
    case D3DTOP_DISABLE:
    case D3DTOP_SELECTARG1:
    case D3DTOP_SELECTARG2:
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
        return static_cast<uint8_t>(op);
    default: // every other operation modulates
        return D3DTOP_MODULATE;
    }
}

// A stage without a texture reads opaque white, exactly what sampling a white texel gives.
uint8_t CanonicalArg(DWORD arg, bool textured) {
    DWORD source = arg & 15;
    if ((source != kDiffuse && source != kCurrent && source != kTexture && source != kSpecular) ||
        (source == kTexture && !textured))
        source = kWhite;
    return static_cast<uint8_t>(source | (arg & (kComplement | kReplicate)));
}

bool UsesArg1(uint8_t op) {
    return op != D3DTOP_DISABLE && op != D3DTOP_SELECTARG2;
}
bool UsesArg2(uint8_t op) {
    return op != D3DTOP_DISABLE && op != D3DTOP_SELECTARG1;
}

bool Finite(const D3DVECTOR& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Row vector times the upper 3 × 3 (w = 0) or the whole matrix (w = 1).
D3DVECTOR Transform(const D3DVECTOR& v, const D3DMATRIX& m, float w) {
    return {v.x * m._11 + v.y * m._21 + v.z * m._31 + w * m._41,
            v.x * m._12 + v.y * m._22 + v.z * m._32 + w * m._42,
            v.x * m._13 + v.y * m._23 + v.z * m._33 + w * m._43};
}

// Normals go through the inverse transpose of the world-view matrix, which for Direct3D's
// row vectors is the cofactor matrix over the determinant; a singular matrix keeps its own.
void NormalMatrix(const D3DMATRIX& m, float out[9]) {
    const double a[3][3] = {{m._11, m._12, m._13}, {m._21, m._22, m._23}, {m._31, m._32, m._33}};
    double c[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    double det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
    bool usable = std::isfinite(det) && std::fabs(det) > 1e-12;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = static_cast<float>(usable ? c[i][j] / det : a[i][j]);
}

void Colour(const D3DCOLORVALUE& c, float out[4]) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

// Colours leave the vertex stage finite and in 0..1 whatever the light settings.
const char* kVertexHead = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;   // (0, 0, 0) when the format has no normal
layout(location = 2) in vec4 aDiffuse;  // white when the format has no colour
layout(location = 3) in vec2 aTexCoord;

uniform mat4 uWorldView;
uniform mat4 uProjection;

vec4 Clean(vec4 c) {
    return clamp(mix(c, vec4(0.0), isnan(c)), 0.0, 1.0);
}
)";

std::string Index(int i) {
    std::string s = "[";
    s += std::to_string(i);
    s += ']';
    return s;
}

// One light's terms, added to ambient, diffuse and specular in view space.
std::string LightTerms(const GlProgramKey& k, int i) {
    const std::string at = Index(i);
    std::string s;
    std::string body = "        ambient += uLightAmbient" + at + " * atten;\n" +
                       "        float nl = dot(N, L);\n"
                       "        if (nl > 0.0) {\n"
                       "            diffuse += uLightDiffuse" +
                       at + " * (nl * atten);\n";
    if (k.specular)
        body += "            vec3 h = L + V;\n"
                "            float hl = length(h);\n"
                "            float nh = hl > 0.0 ? dot(N, h / hl) : 0.0;\n"
                "            if (nh > 0.0)\n"
                "                specular += uLightSpecular" +
                at + " * (pow(nh, uMatPower) * atten);\n";
    body += "        }\n";
    if (k.directional & (1u << i)) {
        s += "    {\n"
             "        vec3 L = uLightToward" +
             at +
             ";\n"
             "        float atten = 1.0;\n" +
             body + "    }\n";
    } else {
        // Beyond its range a light adds nothing, not even ambient.
        s += "    {\n"
             "        vec3 toLight = uLightPosition" +
             at +
             " - P;\n"
             "        float d = length(toLight);\n"
             "        if (!(d > uLightRange" +
             at +
             ")) {\n"
             "        vec3 L = d > 0.0 ? toLight / d : vec3(0.0);\n"
             "        vec3 a = uLightAttenuation" +
             at +
             ";\n"
             // All three factors may be zero: the light then saturates instead of dividing
             // by zero.
             "        float atten = 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-6);\n" +
             body + "        }\n    }\n";
    }
    return s;
}

bool UsesSource(const GlProgramKey& k, uint8_t source) {
    for (int s = 0; s < k.stages; ++s) {
        const uint8_t c = k.colourOp[s], a = k.alphaOp[s];
        if ((UsesArg1(c) && (k.colourArg[s][0] & 15) == source) ||
            (UsesArg2(c) && (k.colourArg[s][1] & 15) == source) ||
            (UsesArg1(a) && (k.alphaArg[s][0] & 15) == source) ||
            (UsesArg2(a) && (k.alphaArg[s][1] & 15) == source))
            return true;
    }
    return false;
}

// Whether the vertex stage passes the specular colour on: only lighting makes one.
bool SpecularVarying(const GlProgramKey& k) {
    return k.lighting && (k.specular || UsesSource(k, kSpecular));
}

std::string Argument(const GlProgramKey& k, uint8_t arg, int stage) {
    std::string v;
    switch (arg & 15) {
    case kDiffuse:
        v = "vDiffuse";
        break;
    case kCurrent:
        v = "current";
        break;
    case kTexture:
        v = stage == 0 ? "t0" : "t1";
        break;
    case kSpecular:
        v = SpecularVarying(k) ? "vSpecular" : "vec4(0.0)";
        break;
    default:
        v = "vec4(1.0)";
        break;
    }
    if (arg & kComplement)
        v = "(1.0 - " + v + ")";
    if (arg & kReplicate)
        v += ".aaaa";
    return v;
}

std::string Operation(uint8_t op, const std::string& a1, const std::string& a2) {
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE2X:
        return "(" + a1 + " * " + a2 + " * 2.0)";
    case D3DTOP_MODULATE4X:
        return "(" + a1 + " * " + a2 + " * 4.0)";
    case D3DTOP_ADD:
        return "(" + a1 + " + " + a2 + ")";
    default:
        return "(" + a1 + " * " + a2 + ")";
    }
}

const char* AlphaCondition(uint8_t func) {
    switch (func) {
    case D3DCMP_NEVER:
        return "false";
    case D3DCMP_LESS:
        return "a < uAlphaRef";
    case D3DCMP_EQUAL:
        return "a == uAlphaRef";
    case D3DCMP_LESSEQUAL:
        return "a <= uAlphaRef";
    case D3DCMP_GREATER:
        return "a > uAlphaRef";
    case D3DCMP_NOTEQUAL:
        return "a != uAlphaRef";
    default:
        return "a >= uAlphaRef";
    }
}

bool Compile(GLenum kind, const std::string& text, GLuint* shader, std::string* error) {
    const char* source = text.c_str();
    *shader = glCreateShader(kind);
    glShaderSource(*shader, 1, &source, nullptr);
    glCompileShader(*shader);
    GLint ok = 0;
    glGetShaderiv(*shader, GL_COMPILE_STATUS, &ok);
    if (ok)
        return true;
    char log[2048] = {};
    glGetShaderInfoLog(*shader, sizeof log, nullptr, log);
    *error = std::string(kind == GL_VERTEX_SHADER ? "vertex" : "fragment") +
             " shader does not compile: " + log;
    glDeleteShader(*shader);
    *shader = 0;
    return false;
}

} // namespace

void DescribeDraw(const DeviceState& s, DWORD fvf, GlProgramKey* key, GlUniforms* u) {
    GlProgramKey k;
    const D3DXMATRIX world(s.Transform(D3DTS_WORLD)), view(s.Transform(D3DTS_VIEW));
    const D3DXMATRIX worldView = world * view;
    std::memcpy(u->worldView, &worldView._11, sizeof u->worldView);
    std::memcpy(u->projection, &s.Transform(D3DTS_PROJECTION)._11, sizeof u->projection);
    NormalMatrix(worldView, u->normalMatrix);

    k.lighting = s.Rs(D3DRS_LIGHTING) != FALSE;
    k.specular = s.Rs(D3DRS_SPECULARENABLE) != FALSE;
    if (k.lighting) {
        k.normalize = s.Rs(D3DRS_NORMALIZENORMALS) != FALSE;
        k.localViewer = k.specular && s.Rs(D3DRS_LOCALVIEWER) != FALSE;
        // Vertex colours replace material colours only where the vertex has one.
        const bool vertexColour = (fvf & D3DFVF_DIFFUSE) && s.Rs(D3DRS_COLORVERTEX) != FALSE;
        const D3DRENDERSTATETYPE sources[4] = {
            D3DRS_DIFFUSEMATERIALSOURCE, D3DRS_AMBIENTMATERIALSOURCE, D3DRS_SPECULARMATERIALSOURCE,
            D3DRS_EMISSIVEMATERIALSOURCE};
        for (int i = 0; i < 4; ++i)
            if (vertexColour && s.Rs(sources[i]) == D3DMCS_COLOR1)
                k.fromVertex |= static_cast<uint8_t>(1u << i);
    }
    const DWORD ambient = s.Rs(D3DRS_AMBIENT);
    u->globalAmbient[0] = ((ambient >> 16) & 0xFF) / 255.0f;
    u->globalAmbient[1] = ((ambient >> 8) & 0xFF) / 255.0f;
    u->globalAmbient[2] = (ambient & 0xFF) / 255.0f;
    const D3DMATERIAL9& m = s.material;
    Colour(m.Diffuse, u->matDiffuse);
    Colour(m.Ambient, u->matAmbient);
    Colour(m.Specular, u->matSpecular);
    Colour(m.Emissive, u->matEmissive);
    u->matPower = m.Power;

    // Lights in enabled order; a point light at a non-finite place or with a negative range
    // lights nothing and takes no slot.
    int count = 0;
    for (UINT i = 0; i < kMaxLights && count < kShaderLights && k.lighting; ++i) {
        if (!s.lightEnabled[i])
            continue;
        const D3DLIGHT9& l = s.lights[i];
        const int n = count;
        for (float* slot : {u->lightPosition[n], u->lightToward[n], u->lightAttenuation[n]})
            slot[0] = slot[1] = slot[2] = 0.0f;
        u->lightRange[n] = 0.0f;
        if (l.Type == D3DLIGHT_DIRECTIONAL) {
            k.directional |= static_cast<uint8_t>(1u << n);
            // A zero or non-finite direction lights nothing but ambient.
            float* toward = u->lightToward[n];
            D3DVECTOR d = Transform(l.Direction, view, 0.0f);
            float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (Finite(d) && std::isfinite(len) && len > 0.0f) {
                toward[0] = -d.x / len;
                toward[1] = -d.y / len;
                toward[2] = -d.z / len;
            }
        } else {
            // Spot lights are lit as point lights (no cone).
            D3DVECTOR p = Transform(l.Position, view, 1.0f);
            if (!Finite(p) || !(l.Range >= 0.0f))
                continue;
            u->lightPosition[n][0] = p.x;
            u->lightPosition[n][1] = p.y;
            u->lightPosition[n][2] = p.z;
            u->lightRange[n] = std::isfinite(l.Range) ? l.Range : 3.4e38f;
            const float a[3] = {l.Attenuation0, l.Attenuation1, l.Attenuation2};
            for (int j = 0; j < 3; ++j)
                u->lightAttenuation[n][j] = std::isfinite(a[j]) ? a[j] : 0.0f;
        }
        const D3DCOLORVALUE* colours[3] = {&l.Diffuse, &l.Specular, &l.Ambient};
        float(*targets[3])[3] = {u->lightDiffuse, u->lightSpecular, u->lightAmbient};
        for (int j = 0; j < 3; ++j) {
            targets[j][n][0] = colours[j]->r;
            targets[j][n][1] = colours[j]->g;
            targets[j][n][2] = colours[j]->b;
        }
        ++count;
    }
    k.lightCount = static_cast<uint8_t>(count);

    for (DWORD st = 0; st < 2; ++st) {
        const uint8_t colourOp = CanonicalOp(s.Tss(st, D3DTSS_COLOROP));
        if (colourOp == D3DTOP_DISABLE) // a disabled stage ends the cascade
            break;
        k.stages = static_cast<uint8_t>(st + 1);
        const bool textured = s.textures[st] != nullptr;
        k.colourOp[st] = colourOp;
        k.alphaOp[st] = CanonicalOp(s.Tss(st, D3DTSS_ALPHAOP));
        if (UsesArg1(colourOp))
            k.colourArg[st][0] = CanonicalArg(s.Tss(st, D3DTSS_COLORARG1), textured);
        if (UsesArg2(colourOp))
            k.colourArg[st][1] = CanonicalArg(s.Tss(st, D3DTSS_COLORARG2), textured);
        if (UsesArg1(k.alphaOp[st]))
            k.alphaArg[st][0] = CanonicalArg(s.Tss(st, D3DTSS_ALPHAARG1), textured);
        if (UsesArg2(k.alphaOp[st]))
            k.alphaArg[st][1] = CanonicalArg(s.Tss(st, D3DTSS_ALPHAARG2), textured);
        const uint8_t args[4] = {k.colourArg[st][0], k.colourArg[st][1], k.alphaArg[st][0],
                                 k.alphaArg[st][1]};
        const bool used[4] = {UsesArg1(colourOp), UsesArg2(colourOp), UsesArg1(k.alphaOp[st]),
                              UsesArg2(k.alphaOp[st])};
        for (int i = 0; i < 4; ++i)
            if (used[i] && (args[i] & 15) == kTexture)
                k.sampled |= static_cast<uint8_t>(1u << st);
        if (k.sampled & (1u << st)) {
            if ((s.Tss(st, D3DTSS_TEXTURETRANSFORMFLAGS) & 0xFF) != D3DTTFF_DISABLE)
                k.texTransform |= static_cast<uint8_t>(1u << st);
            if ((s.Tss(st, D3DTSS_TEXCOORDINDEX) & 0xFFFF) == 0)
                k.texFromVertex |= static_cast<uint8_t>(1u << st);
            std::memcpy(u->texMatrix[st],
                        &s.Transform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + st))._11,
                        sizeof u->texMatrix[st]);
        }
    }

    if (s.Rs(D3DRS_ALPHATESTENABLE) != FALSE) {
        const DWORD func = s.Rs(D3DRS_ALPHAFUNC);
        if (func >= D3DCMP_NEVER && func <= D3DCMP_GREATEREQUAL)
            k.alphaFunc = static_cast<uint8_t>(func);
    }
    u->alphaRef = static_cast<float>(s.Rs(D3DRS_ALPHAREF) & 0xFF);
    *key = k;
}

std::string VertexSource(const GlProgramKey& k) {
    std::string s = kVertexHead;
    const bool specularOut = SpecularVarying(k);
    if (k.lighting) {
        s += "uniform mat3 uNormalMatrix;\n"
             "uniform vec3 uGlobalAmbient;\n"
             "uniform vec4 uMatDiffuse, uMatAmbient, uMatSpecular, uMatEmissive;\n";
        if (k.specular)
            s += "uniform float uMatPower;\n";
        if (k.lightCount > 0) {
            const std::string n = Index(k.lightCount);
            s += "uniform vec3 uLightPosition" + n + ";\nuniform vec3 uLightToward" + n +
                 ";\nuniform vec3 uLightDiffuse" + n + ";\nuniform vec3 uLightSpecular" + n +
                 ";\nuniform vec3 uLightAmbient" + n + ";\nuniform float uLightRange" + n +
                 ";\nuniform vec3 uLightAttenuation" + n + ";\n";
        }
    }
    for (int st = 0; st < 2; ++st)
        if (k.sampled & k.texTransform & (1u << st))
            s += std::string("uniform mat4 uTexMatrix") + std::to_string(st) + ";\n";
    s += "\nout vec4 vDiffuse;\n";
    if (specularOut)
        s += "out vec4 vSpecular;\n";
    for (int st = 0; st < 2; ++st)
        if (k.sampled & (1u << st))
            s += std::string("out vec2 vTexCoord") + std::to_string(st) + ";\n";

    s += "\nvoid main() {\n"
         "    vec4 viewPos = uWorldView * vec4(aPosition, 1.0);\n"
         "    gl_Position = uProjection * viewPos;\n"
         "    gl_Position.z = 2.0 * gl_Position.z - gl_Position.w; // Direct3D clips z to 0..w\n";
    if (!k.lighting) {
        s += "    vDiffuse = aDiffuse;\n";
    } else {
        const char* names[4] = {"md", "ma", "ms", "me"};
        const char* material[4] = {"uMatDiffuse", "uMatAmbient", "uMatSpecular", "uMatEmissive"};
        for (int i = 0; i < 4; ++i)
            s += std::string("    vec4 ") + names[i] + " = " +
                 ((k.fromVertex & (1u << i)) ? "aDiffuse" : material[i]) + ";\n";
        s += "    vec3 P = viewPos.xyz;\n"
             "    vec3 N = uNormalMatrix * aNormal;\n";
        if (k.normalize)
            s += "    float len = length(N);\n"
                 "    N = len > 0.0 ? N / len : vec3(0.0);\n";
        s += "    vec3 V = vec3(0.0, 0.0, -1.0);\n";
        if (k.localViewer)
            s += "    float distToEye = length(P);\n"
                 "    if (distToEye > 0.0)\n"
                 "        V = -P / distToEye;\n";
        s += "    vec3 ambient = uGlobalAmbient;\n"
             "    vec3 diffuse = vec3(0.0);\n"
             "    vec3 specular = vec3(0.0);\n";
        for (int i = 0; i < k.lightCount; ++i)
            s += LightTerms(k, i);
        s += "    vDiffuse = vec4(me.rgb + ma.rgb * ambient + md.rgb * diffuse, md.a);\n";
        if (specularOut)
            s += "    vSpecular = Clean(vec4(ms.rgb * specular, ms.a));\n";
    }
    s += "    vDiffuse = Clean(vDiffuse);\n";
    for (int st = 0; st < 2; ++st) {
        if (!(k.sampled & (1u << st)))
            continue;
        const std::string n = std::to_string(st);
        s += "    {\n        vec2 t = " +
             std::string((k.texFromVertex & (1u << st)) ? "aTexCoord" : "vec2(0.0)") + ";\n";
        if (k.texTransform & (1u << st))
            s += "        t = (uTexMatrix" + n + " * vec4(t, 1.0, 0.0)).xy;\n";
        s += "        vTexCoord" + n + " = t;\n    }\n";
    }
    s += "}\n";
    return s;
}

std::string FragmentSource(const GlProgramKey& k) {
    std::string s = "#version 330 core\nin vec4 vDiffuse;\n";
    if (SpecularVarying(k))
        s += "in vec4 vSpecular;\n";
    for (int st = 0; st < 2; ++st)
        if (k.sampled & (1u << st))
            s += std::string("in vec2 vTexCoord") + std::to_string(st) +
                 ";\nuniform sampler2D uTexture" + std::to_string(st) + ";\n";
    if (k.alphaFunc)
        s += "uniform float uAlphaRef;\n";
    s += "out vec4 fragColour;\n\nvoid main() {\n";
    // Sampled before any branch so that mip selection sees smooth derivatives.
    for (int st = 0; st < 2; ++st)
        if (k.sampled & (1u << st)) {
            const std::string n = std::to_string(st);
            s += "    vec4 t" + n + " = texture(uTexture" + n + ", vTexCoord" + n + ");\n";
        }
    s += "    vec4 current = vDiffuse;\n";
    for (int st = 0; st < k.stages; ++st) {
        s += "    {\n        vec3 rgb = " +
             Operation(k.colourOp[st], Argument(k, k.colourArg[st][0], st),
                       Argument(k, k.colourArg[st][1], st)) +
             ".rgb;\n";
        if (k.alphaOp[st] == D3DTOP_DISABLE)
            s += "        float alpha = current.a;\n";
        else
            s += "        float alpha = " +
                 Operation(k.alphaOp[st], Argument(k, k.alphaArg[st][0], st),
                           Argument(k, k.alphaArg[st][1], st)) +
                 ".a;\n";
        s += "        current = clamp(vec4(rgb, alpha), 0.0, 1.0);\n    }\n";
    }
    if (k.specular)
        s += std::string("    current.rgb = min(current.rgb + ") +
             (SpecularVarying(k) ? "vSpecular.rgb" : "vec3(0.0)") + ", vec3(1.0));\n";
    if (k.alphaFunc)
        s += std::string("    float a = floor(current.a * 255.0 + 0.5);\n    if (!(") +
             AlphaCondition(k.alphaFunc) + "))\n        discard;\n";
    s += "    fragColour = current;\n}\n";
    return s;
}

std::unique_ptr<GlProgram> GlProgram::Build(const GlProgramKey& key, std::string* error) {
    GLuint vs = 0, fs = 0;
    if (!Compile(GL_VERTEX_SHADER, VertexSource(key), &vs, error))
        return nullptr;
    if (!Compile(GL_FRAGMENT_SHADER, FragmentSource(key), &fs, error)) {
        glDeleteShader(vs);
        return nullptr;
    }
    std::unique_ptr<GlProgram> p(new GlProgram(key));
    p->program_ = glCreateProgram();
    glAttachShader(p->program_, vs);
    glAttachShader(p->program_, fs);
    glLinkProgram(p->program_);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(p->program_, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(p->program_, sizeof log, nullptr, log);
        *error = std::string("shader program does not link: ") + log;
        glDeleteProgram(p->program_);
        return nullptr;
    }

    struct Uniform {
        const char* name;
        Kind kind;
        int count;
        size_t offset;
    };
    const int lights = key.lightCount;
#define VELDMARK_AT(field) offsetof(GlUniforms, field) / sizeof(float)
    const Uniform uniforms[] = {
        {"uWorldView", Kind::Mat4, 1, VELDMARK_AT(worldView)},
        {"uProjection", Kind::Mat4, 1, VELDMARK_AT(projection)},
        {"uNormalMatrix", Kind::Mat3, 1, VELDMARK_AT(normalMatrix)},
        {"uGlobalAmbient", Kind::Vec3, 1, VELDMARK_AT(globalAmbient)},
        {"uMatDiffuse", Kind::Vec4, 1, VELDMARK_AT(matDiffuse)},
        {"uMatAmbient", Kind::Vec4, 1, VELDMARK_AT(matAmbient)},
        {"uMatSpecular", Kind::Vec4, 1, VELDMARK_AT(matSpecular)},
        {"uMatEmissive", Kind::Vec4, 1, VELDMARK_AT(matEmissive)},
        {"uMatPower", Kind::Float, 1, VELDMARK_AT(matPower)},
        {"uLightPosition", Kind::Vec3, lights, VELDMARK_AT(lightPosition)},
        {"uLightToward", Kind::Vec3, lights, VELDMARK_AT(lightToward)},
        {"uLightDiffuse", Kind::Vec3, lights, VELDMARK_AT(lightDiffuse)},
        {"uLightSpecular", Kind::Vec3, lights, VELDMARK_AT(lightSpecular)},
        {"uLightAmbient", Kind::Vec3, lights, VELDMARK_AT(lightAmbient)},
        {"uLightRange", Kind::Float, lights, VELDMARK_AT(lightRange)},
        {"uLightAttenuation", Kind::Vec3, lights, VELDMARK_AT(lightAttenuation)},
        {"uTexMatrix0", Kind::Mat4, 1, VELDMARK_AT(texMatrix[0])},
        {"uTexMatrix1", Kind::Mat4, 1, VELDMARK_AT(texMatrix[1])},
        {"uAlphaRef", Kind::Float, 1, VELDMARK_AT(alphaRef)},
    };
#undef VELDMARK_AT
    for (const Uniform& u : uniforms) {
        const GLint location = glGetUniformLocation(p->program_, u.name);
        if (location >= 0 && u.count > 0) // unused by this program
            p->slots_.push_back(Slot{location, u.kind, static_cast<uint8_t>(u.count),
                                     static_cast<uint16_t>(u.offset)});
    }
    glUseProgram(p->program_);
    glUniform1i(glGetUniformLocation(p->program_, "uTexture0"), 0);
    glUniform1i(glGetUniformLocation(p->program_, "uTexture1"), 1);
    return p;
}

GlProgram::~GlProgram() = default;

int GlProgram::Send(const GlUniforms& uniforms) {
    static constexpr int kFloats[] = {16, 9, 3, 4, 1};
    const auto* values = reinterpret_cast<const float*>(&uniforms);
    auto* sent = reinterpret_cast<float*>(&sent_);
    int calls = 0;
    for (const Slot& slot : slots_) {
        const float* v = values + slot.offset;
        float* was = sent + slot.offset;
        const size_t bytes = sizeof(float) * kFloats[static_cast<int>(slot.kind)] * slot.count;
        if (sentAny_ && std::memcmp(v, was, bytes) == 0)
            continue;
        std::memcpy(was, v, bytes);
        ++calls;
        switch (slot.kind) {
        case Kind::Mat4:
            glUniformMatrix4fv(slot.location, slot.count, GL_FALSE, v);
            break;
        case Kind::Mat3:
            glUniformMatrix3fv(slot.location, slot.count, GL_FALSE, v);
            break;
        case Kind::Vec3:
            glUniform3fv(slot.location, slot.count, v);
            break;
        case Kind::Vec4:
            glUniform4fv(slot.location, slot.count, v);
            break;
        case Kind::Float:
            glUniform1fv(slot.location, slot.count, v);
            break;
        }
    }
    sentAny_ = true;
    return calls;
}

GlProgram* GlProgramCache::Get(const GlProgramKey& key, std::string* error) {
    ++clock_;
    if (last_ < entries_.size() && entries_[last_].key == key) {
        entries_[last_].lastUse = clock_;
        return entries_[last_].program.get();
    }
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].key == key) {
            entries_[i].lastUse = clock_;
            last_ = i;
            return entries_[i].program.get();
        }
    Entry entry{key, GlProgram::Build(key, error), clock_};
    ++builds_;
    if (entries_.size() < capacity_) {
        last_ = entries_.size();
        entries_.push_back(std::move(entry));
    } else {
        auto oldest =
            std::min_element(entries_.begin(), entries_.end(),
                             [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        if (oldest->program)
            glDeleteProgram(oldest->program->Name());
        *oldest = std::move(entry);
        last_ = static_cast<size_t>(oldest - entries_.begin());
    }
    return entries_[last_].program.get();
}

void GlProgramCache::Destroy() {
    for (Entry& e : entries_)
        if (e.program)
            glDeleteProgram(e.program->Name());
    entries_.clear();
    last_ = 0;
}
