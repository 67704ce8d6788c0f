#include "gl_reference_program.h"

#include "d3dx9.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>

namespace {

constexpr int kShaderLights = 8;

const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;   // (0, 0, 0) when the format has no normal
layout(location = 2) in vec4 aDiffuse;  // white when the format has no colour
layout(location = 3) in vec2 aTexCoord;

uniform mat4 uWorldView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;
uniform bool uLighting;
uniform bool uNormalize;
uniform bool uLocalViewer;
uniform bool uSpecularEnable;
uniform vec3 uGlobalAmbient;
uniform vec4 uMatDiffuse, uMatAmbient, uMatSpecular, uMatEmissive;
uniform float uMatPower;
uniform ivec4 uMatFromVertex; // diffuse, ambient, specular, emissive from the vertex colour

const int kMaxLights = 8;
uniform int uLightCount;
uniform int uLightDirectional[kMaxLights];
uniform vec3 uLightPosition[kMaxLights];   // view space
uniform vec3 uLightToward[kMaxLights];     // view space, unit or zero
uniform vec3 uLightDiffuse[kMaxLights];
uniform vec3 uLightSpecular[kMaxLights];
uniform vec3 uLightAmbient[kMaxLights];
uniform float uLightRange[kMaxLights];
uniform vec3 uLightAttenuation[kMaxLights];

uniform mat4 uTexMatrix[2];
uniform int uTexTransform[2]; // 0: coordinates as given, else transformed as (u, v, 1, 0)
uniform int uTexSource[2];    // 0: the vertex's set, -1: none

out vec4 vDiffuse;
out vec4 vSpecular;
out vec2 vTexCoord0;
out vec2 vTexCoord1;

// Colours leave the vertex stage finite and in 0..1 whatever the light settings.
vec4 Clean(vec4 c) {
    return clamp(mix(c, vec4(0.0), isnan(c)), 0.0, 1.0);
}

vec2 StageCoord(int s) {
    vec2 t = uTexSource[s] == 0 ? aTexCoord : vec2(0.0);
    if (uTexTransform[s] != 0)
        t = (uTexMatrix[s] * vec4(t, 1.0, 0.0)).xy;
    return t;
}

void main() {
    vec4 viewPos = uWorldView * vec4(aPosition, 1.0);
    gl_Position = uProjection * viewPos;
    gl_Position.z = 2.0 * gl_Position.z - gl_Position.w; // Direct3D clips z to 0..w

    if (!uLighting) {
        vDiffuse = aDiffuse;
        vSpecular = vec4(0.0);
    } else {
        vec4 md = uMatFromVertex.x != 0 ? aDiffuse : uMatDiffuse;
        vec4 ma = uMatFromVertex.y != 0 ? aDiffuse : uMatAmbient;
        vec4 ms = uMatFromVertex.z != 0 ? aDiffuse : uMatSpecular;
        vec4 me = uMatFromVertex.w != 0 ? aDiffuse : uMatEmissive;
        vec3 P = viewPos.xyz;
        vec3 N = uNormalMatrix * aNormal;
        if (uNormalize) {
            float len = length(N);
            N = len > 0.0 ? N / len : vec3(0.0);
        }
        vec3 V = vec3(0.0, 0.0, -1.0);
        float distToEye = length(P);
        if (uLocalViewer && distToEye > 0.0)
            V = -P / distToEye;
        vec3 ambient = uGlobalAmbient;
        vec3 diffuse = vec3(0.0);
        vec3 specular = vec3(0.0);
        for (int i = 0; i < uLightCount; ++i) {
            vec3 L;
            float atten = 1.0;
            if (uLightDirectional[i] != 0) {
                L = uLightToward[i];
            } else {
                vec3 toLight = uLightPosition[i] - P;
                float d = length(toLight);
                if (d > uLightRange[i])
                    continue;
                L = d > 0.0 ? toLight / d : vec3(0.0);
                vec3 a = uLightAttenuation[i];
                // All three factors may be zero: the light then saturates instead of
                // dividing by zero.
                atten = 1.0 / max(a.x + a.y * d + a.z * d * d, 1e-6);
            }
            ambient += uLightAmbient[i] * atten;
            float nl = dot(N, L);
            if (nl > 0.0) {
                diffuse += uLightDiffuse[i] * (nl * atten);
                if (uSpecularEnable) {
                    vec3 h = L + V;
                    float hl = length(h);
                    float nh = hl > 0.0 ? dot(N, h / hl) : 0.0;
                    if (nh > 0.0)
                        specular += uLightSpecular[i] * (pow(nh, uMatPower) * atten);
                }
            }
        }
        vDiffuse = vec4(me.rgb + ma.rgb * ambient + md.rgb * diffuse, md.a);
        vSpecular = vec4(ms.rgb * specular, ms.a);
    }
    vDiffuse = Clean(vDiffuse);
    vSpecular = Clean(vSpecular);
    vTexCoord0 = StageCoord(0);
    vTexCoord1 = StageCoord(1);
}
)";

const char* kFragmentShader = R"(#version 330 core
in vec4 vDiffuse;
in vec4 vSpecular;
in vec2 vTexCoord0;
in vec2 vTexCoord1;

uniform sampler2D uTexture0;
uniform sampler2D uTexture1;
uniform ivec3 uColourStage[2]; // operation, argument 1, argument 2
uniform ivec3 uAlphaStage[2];
uniform bool uSpecularAdd;
uniform bool uAlphaTest;
uniform int uAlphaFunc;
uniform float uAlphaRef;

out vec4 fragColour;

vec4 Argument(int a, vec4 current, vec4 texel) {
    int source = a & 15;
    vec4 v = source == 0 ? vDiffuse
           : source == 1 ? current
           : source == 2 ? texel
           : source == 4 ? vSpecular
           : vec4(1.0); // texture factor: white
    if ((a & 0x10) != 0)
        v = 1.0 - v;
    if ((a & 0x20) != 0)
        v = v.aaaa;
    return v;
}

vec4 Operation(int op, vec4 a1, vec4 a2) {
    if (op == 2) return a1;
    if (op == 3) return a2;
    if (op == 5) return a1 * a2 * 2.0;
    if (op == 6) return a1 * a2 * 4.0;
    if (op == 7) return a1 + a2;
    return a1 * a2;
}

bool Passes(float a) {
    if (uAlphaFunc == 1) return false;
    if (uAlphaFunc == 2) return a < uAlphaRef;
    if (uAlphaFunc == 3) return a == uAlphaRef;
    if (uAlphaFunc == 4) return a <= uAlphaRef;
    if (uAlphaFunc == 5) return a > uAlphaRef;
    if (uAlphaFunc == 6) return a != uAlphaRef;
    if (uAlphaFunc == 7) return a >= uAlphaRef;
    return true;
}

void main() {
    // Sampled outside any branch so that mip selection sees smooth derivatives.
    vec4 t0 = texture(uTexture0, vTexCoord0);
    vec4 t1 = texture(uTexture1, vTexCoord1);
    vec4 current = vDiffuse;
    for (int s = 0; s < 2; ++s) {
        ivec3 c = uColourStage[s];
        if (c.x == 1) // a disabled stage ends the cascade
            break;
        ivec3 a = uAlphaStage[s];
        vec4 texel = s == 0 ? t0 : t1;
        vec3 rgb = Operation(c.x, Argument(c.y, current, texel),
                             Argument(c.z, current, texel)).rgb;
        float alpha = a.x == 1 ? current.a
                    : Operation(a.x, Argument(a.y, current, texel),
                                Argument(a.z, current, texel)).a;
        current = clamp(vec4(rgb, alpha), 0.0, 1.0);
    }
    if (uSpecularAdd)
        current.rgb = min(current.rgb + vSpecular.rgb, vec3(1.0));
    if (uAlphaTest && !Passes(floor(current.a * 255.0 + 0.5)))
        discard;
    fragColour = current;
}
)";

bool Compile(GLenum kind, const char* source, GLuint* shader, std::string* error) {
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

void ColourValue(GLint location, const D3DCOLORVALUE& c) {
    glUniform4f(location, c.r, c.g, c.b, c.a);
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

} // namespace

bool GlReferenceProgram::Build(std::string* error) {
    GLuint vs = 0, fs = 0;
    if (!Compile(GL_VERTEX_SHADER, kVertexShader, &vs, error))
        return false;
    if (!Compile(GL_FRAGMENT_SHADER, kFragmentShader, &fs, error)) {
        glDeleteShader(vs);
        return false;
    }
    program_ = glCreateProgram();
    glAttachShader(program_, vs);
    glAttachShader(program_, fs);
    glLinkProgram(program_);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program_, sizeof log, nullptr, log);
        *error = std::string("shader program does not link: ") + log;
        Destroy();
        return false;
    }
    auto at = [this](const char* name) { return glGetUniformLocation(program_, name); };
    loc_ = Locations{at("uWorldView"),        at("uProjection"),       at("uNormalMatrix"),
                     at("uLighting"),         at("uNormalize"),        at("uLocalViewer"),
                     at("uSpecularEnable"),   at("uGlobalAmbient"),    at("uMatDiffuse"),
                     at("uMatAmbient"),       at("uMatSpecular"),      at("uMatEmissive"),
                     at("uMatPower"),         at("uMatFromVertex"),    at("uLightCount"),
                     at("uLightDirectional"), at("uLightPosition"),    at("uLightToward"),
                     at("uLightDiffuse"),     at("uLightSpecular"),    at("uLightAmbient"),
                     at("uLightRange"),       at("uLightAttenuation"), at("uTexMatrix"),
                     at("uTexTransform"),     at("uTexSource"),        at("uTexture0"),
                     at("uTexture1"),         at("uColourStage"),      at("uAlphaStage"),
                     at("uSpecularAdd"),      at("uAlphaTest"),        at("uAlphaFunc"),
                     at("uAlphaRef")};
    glUseProgram(program_);
    glUniform1i(loc_.texture0, 0);
    glUniform1i(loc_.texture1, 1);
    glUseProgram(0);
    return true;
}

void GlReferenceProgram::Destroy() {
    if (program_)
        glDeleteProgram(program_);
    program_ = 0;
}

void GlReferenceProgram::Apply(const DeviceState& s, DWORD fvf) {
    glUseProgram(program_);
    const D3DXMATRIX world(s.Transform(D3DTS_WORLD)), view(s.Transform(D3DTS_VIEW));
    const D3DXMATRIX worldView = world * view;
    glUniformMatrix4fv(loc_.worldView, 1, GL_FALSE, &worldView._11);
    glUniformMatrix4fv(loc_.projection, 1, GL_FALSE, &s.Transform(D3DTS_PROJECTION)._11);
    float normal[9];
    NormalMatrix(worldView, normal);
    glUniformMatrix3fv(loc_.normalMatrix, 1, GL_FALSE, normal);

    const bool lighting = s.Rs(D3DRS_LIGHTING) != FALSE;
    const bool specular = s.Rs(D3DRS_SPECULARENABLE) != FALSE;
    glUniform1i(loc_.lighting, lighting);
    glUniform1i(loc_.normalize, s.Rs(D3DRS_NORMALIZENORMALS) != FALSE);
    glUniform1i(loc_.localViewer, s.Rs(D3DRS_LOCALVIEWER) != FALSE);
    glUniform1i(loc_.specularEnable, specular);
    glUniform1i(loc_.specularAdd, specular);
    const DWORD ambient = s.Rs(D3DRS_AMBIENT);
    glUniform3f(loc_.globalAmbient, ((ambient >> 16) & 0xFF) / 255.0f,
                ((ambient >> 8) & 0xFF) / 255.0f, (ambient & 0xFF) / 255.0f);

    const D3DMATERIAL9& m = s.material;
    ColourValue(loc_.matDiffuse, m.Diffuse);
    ColourValue(loc_.matAmbient, m.Ambient);
    ColourValue(loc_.matSpecular, m.Specular);
    ColourValue(loc_.matEmissive, m.Emissive);
    glUniform1f(loc_.matPower, m.Power);
    // Vertex colours replace material colours only where the vertex has one.
    const bool vertexColour = (fvf & D3DFVF_DIFFUSE) && s.Rs(D3DRS_COLORVERTEX) != FALSE;
    auto fromVertex = [&](D3DRENDERSTATETYPE source) {
        return vertexColour && s.Rs(source) == D3DMCS_COLOR1 ? 1 : 0;
    };
    glUniform4i(loc_.matFromVertex, fromVertex(D3DRS_DIFFUSEMATERIALSOURCE),
                fromVertex(D3DRS_AMBIENTMATERIALSOURCE), fromVertex(D3DRS_SPECULARMATERIALSOURCE),
                fromVertex(D3DRS_EMISSIVEMATERIALSOURCE));

    GLint directional[kShaderLights] = {};
    float position[kShaderLights][3] = {}, toward[kShaderLights][3] = {};
    float diffuse[kShaderLights][3] = {}, highlight[kShaderLights][3] = {},
          amb[kShaderLights][3] = {};
    float range[kShaderLights] = {}, attenuation[kShaderLights][3] = {};
    int count = 0;
    for (UINT i = 0; i < kMaxLights && count < kShaderLights; ++i) {
        if (!s.lightEnabled[i])
            continue;
        const D3DLIGHT9& l = s.lights[i];
        const int k = count;
        if (l.Type == D3DLIGHT_DIRECTIONAL) {
            directional[k] = 1;
            // A zero or non-finite direction lights nothing but ambient.
            D3DVECTOR d = Transform(l.Direction, view, 0.0f);
            float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (Finite(d) && std::isfinite(len) && len > 0.0f) {
                toward[k][0] = -d.x / len;
                toward[k][1] = -d.y / len;
                toward[k][2] = -d.z / len;
            }
        } else {
            // Spot lights are lit as point lights (no cone).
            D3DVECTOR p = Transform(l.Position, view, 1.0f);
            if (!Finite(p) || !(l.Range >= 0.0f))
                continue;
            position[k][0] = p.x;
            position[k][1] = p.y;
            position[k][2] = p.z;
            range[k] = std::isfinite(l.Range) ? l.Range : 3.4e38f;
            const float a[3] = {l.Attenuation0, l.Attenuation1, l.Attenuation2};
            for (int j = 0; j < 3; ++j)
                attenuation[k][j] = std::isfinite(a[j]) ? a[j] : 0.0f;
        }
        const D3DCOLORVALUE* colours[3] = {&l.Diffuse, &l.Specular, &l.Ambient};
        float(*targets[3])[3] = {diffuse, highlight, amb};
        for (int j = 0; j < 3; ++j) {
            targets[j][k][0] = colours[j]->r;
            targets[j][k][1] = colours[j]->g;
            targets[j][k][2] = colours[j]->b;
        }
        ++count;
    }
    glUniform1i(loc_.lightCount, count);
    glUniform1iv(loc_.lightDirectional, kShaderLights, directional);
    glUniform3fv(loc_.lightPosition, kShaderLights, &position[0][0]);
    glUniform3fv(loc_.lightToward, kShaderLights, &toward[0][0]);
    glUniform3fv(loc_.lightDiffuse, kShaderLights, &diffuse[0][0]);
    glUniform3fv(loc_.lightSpecular, kShaderLights, &highlight[0][0]);
    glUniform3fv(loc_.lightAmbient, kShaderLights, &amb[0][0]);
    glUniform1fv(loc_.lightRange, kShaderLights, range);
    glUniform3fv(loc_.lightAttenuation, kShaderLights, &attenuation[0][0]);

    float texMatrices[2][16];
    GLint texTransform[2], texSource[2], colourStage[2][3], alphaStage[2][3];
    for (DWORD st = 0; st < 2; ++st) {
        std::memcpy(texMatrices[st],
                    &s.Transform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + st))._11,
                    sizeof texMatrices[st]);
        texTransform[st] = (s.Tss(st, D3DTSS_TEXTURETRANSFORMFLAGS) & 0xFF) != D3DTTFF_DISABLE;
        texSource[st] = (s.Tss(st, D3DTSS_TEXCOORDINDEX) & 0xFFFF) == 0 ? 0 : -1;
        colourStage[st][0] = static_cast<GLint>(s.Tss(st, D3DTSS_COLOROP));
        colourStage[st][1] = static_cast<GLint>(s.Tss(st, D3DTSS_COLORARG1));
        colourStage[st][2] = static_cast<GLint>(s.Tss(st, D3DTSS_COLORARG2));
        alphaStage[st][0] = static_cast<GLint>(s.Tss(st, D3DTSS_ALPHAOP));
        alphaStage[st][1] = static_cast<GLint>(s.Tss(st, D3DTSS_ALPHAARG1));
        alphaStage[st][2] = static_cast<GLint>(s.Tss(st, D3DTSS_ALPHAARG2));
    }
    glUniformMatrix4fv(loc_.texMatrix, 2, GL_FALSE, &texMatrices[0][0]);
    glUniform1iv(loc_.texTransform, 2, texTransform);
    glUniform1iv(loc_.texSource, 2, texSource);
    glUniform3iv(loc_.colourStage, 2, &colourStage[0][0]);
    glUniform3iv(loc_.alphaStage, 2, &alphaStage[0][0]);

    glUniform1i(loc_.alphaTest, s.Rs(D3DRS_ALPHATESTENABLE) != FALSE);
    glUniform1i(loc_.alphaFunc, static_cast<GLint>(s.Rs(D3DRS_ALPHAFUNC)));
    glUniform1f(loc_.alphaRef, static_cast<float>(s.Rs(D3DRS_ALPHAREF) & 0xFF));
}
