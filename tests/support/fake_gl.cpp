#include "support/fake_gl.h"

#include <cstring>

namespace fake_gl {

state &current(void)
{
    static state the_state;
    return the_state;
}

namespace {

template <typename T> void append(std::string *text, T value)
{
    if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) *text += " " + std::to_string((long long)value);
}
template <typename... A> void record(const char *name, A... arguments)
{
    std::string text = name;
    (append(&text, arguments), ...);
    current().calls.push_back(text);
}
uint32_t new_name(void) { return current().next_name++; }

// Core.
void APIENTRY Enable(GLenum e) { record("Enable", e); }
void APIENTRY Disable(GLenum e) { record("Disable", e); }
GLboolean APIENTRY IsEnabled(GLenum) { return GL_FALSE; }
GLenum APIENTRY GetError(void) { return GL_NO_ERROR; }
const GLubyte *APIENTRY GetString(GLenum name)
{
    state &s = current();
    switch (name)
    {
    case GL_VERSION: return (const GLubyte *)s.version.c_str();
    case GL_EXTENSIONS: return (const GLubyte *)s.extensions.c_str();
    case GL_RENDERER: return (const GLubyte *)s.renderer.c_str();
    case GL_VENDOR: return (const GLubyte *)s.vendor.c_str();
    default: return nullptr;
    }
}
void APIENTRY GetIntegerv(GLenum name, GLint *value) { *value = name == GL_MAX_TEXTURE_SIZE ? current().max_texture_size : 0; }
void APIENTRY GetFloatv(GLenum name, GLfloat *value)
{
    *value = name == GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT ? current().max_anisotropy : 0.0f;
}
void APIENTRY PixelStorei(GLenum p, GLint v) { record("PixelStorei", p, v); }
void APIENTRY ReadPixels(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *) { record("ReadPixels"); }
void APIENTRY ClearColor(GLclampf, GLclampf, GLclampf, GLclampf) { record("ClearColor"); }
void APIENTRY Clear(GLbitfield b) { record("Clear", b); }
void APIENTRY Viewport(GLint x, GLint y, GLsizei w, GLsizei h) { record("Viewport", x, y, w, h); }
void APIENTRY MatrixMode(GLenum m) { record("MatrixMode", m); }
void APIENTRY LoadMatrixf(const GLfloat *) { record("LoadMatrixf"); }
void APIENTRY LoadIdentity(void) { record("LoadIdentity"); }
void APIENTRY BlendFunc(GLenum a, GLenum b) { record("BlendFunc", a, b); }
void APIENTRY DepthFunc(GLenum f) { record("DepthFunc", f); }
void APIENTRY DepthMask(GLboolean m) { record("DepthMask", m); }
void APIENTRY Fogi(GLenum p, GLint v) { record("Fogi", p, v); }
void APIENTRY Fogf(GLenum p, GLfloat) { record("Fogf", p); }
void APIENTRY Fogfv(GLenum p, const GLfloat *) { record("Fogfv", p); }
void APIENTRY ActiveTexture(GLenum t) { record("ActiveTexture", t); }
void APIENTRY ClientActiveTexture(GLenum t) { record("ClientActiveTexture", t); }
void APIENTRY EnableClientState(GLenum a) { record("EnableClientState", a); }
void APIENTRY DisableClientState(GLenum a) { record("DisableClientState", a); }
void APIENTRY VertexPointer(GLint n, GLenum t, GLsizei s, const void *) { record("VertexPointer", n, t, s); }
void APIENTRY ColorPointer(GLint n, GLenum t, GLsizei s, const void *) { record("ColorPointer", n, t, s); }
void APIENTRY TexCoordPointer(GLint n, GLenum t, GLsizei s, const void *) { record("TexCoordPointer", n, t, s); }
void APIENTRY BindTexture(GLenum t, GLuint n) { record("BindTexture", t, n); }
void APIENTRY GenTextures(GLsizei n, GLuint *names)
{
    record("GenTextures", n);
    for (GLsizei i = 0; i < n; ++i) current().textures.insert(names[i] = new_name());
}
void APIENTRY DeleteTextures(GLsizei n, const GLuint *names)
{
    record("DeleteTextures", n);
    for (GLsizei i = 0; i < n; ++i) current().textures.erase(names[i]);
}
void APIENTRY TexParameteri(GLenum t, GLenum p, GLint v) { record("TexParameteri", t, p, v); }
void APIENTRY TexParameterf(GLenum t, GLenum p, GLfloat) { record("TexParameterf", t, p); }
void APIENTRY TexImage2D(GLenum, GLint level, GLint internal, GLsizei w, GLsizei h, GLint, GLenum format, GLenum type,
                         const void *)
{
    record("TexImage2D", level, internal, w, h, format, type);
}
void APIENTRY TexSubImage2D(GLenum, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum, GLenum, const void *)
{
    record("TexSubImage2D", level, x, y, w, h);
}
void APIENTRY DrawArrays(GLenum p, GLint first, GLsizei n) { record("DrawArrays", p, first, n); }
void APIENTRY ColorMask(GLboolean r, GLboolean g, GLboolean b, GLboolean a) { record("ColorMask", r, g, b, a); }
void APIENTRY TexEnvi(GLenum target, GLenum name, GLint value) { record("TexEnvi", target, name, value); }
void APIENTRY LineWidth(GLfloat) { record("LineWidth"); }
void APIENTRY PointSize(GLfloat) { record("PointSize"); }
GLint APIENTRY Build2DMipmaps(GLenum, GLint internal, GLsizei w, GLsizei h, GLenum, GLenum, const void *)
{
    record("Build2DMipmaps", internal, w, h);
    return 0;
}

// OpenGL 2.0.
void APIENTRY AttachShader(GLuint p, GLuint s) { record("AttachShader", p, s); }
void APIENTRY CompileShader(GLuint s) { record("CompileShader", s); }
GLuint APIENTRY CreateProgram(void)
{
    const uint32_t name = new_name();
    current().programs.insert(name);
    record("CreateProgram");
    return name;
}
void APIENTRY DeleteProgram(GLuint p)
{
    record("DeleteProgram", p);
    current().programs.erase(p);
}
GLuint APIENTRY CreateShader(GLenum kind)
{
    const uint32_t name = new_name();
    current().shaders.insert(name);
    record("CreateShader", kind);
    return name;
}
void APIENTRY DeleteShader(GLuint s)
{
    record("DeleteShader", s);
    current().shaders.erase(s);
}
void APIENTRY GetProgramInfoLog(GLuint, GLsizei size, GLsizei *length, GLchar *text)
{
    const char message[] = "fake link failure";
    *length = size > (GLsizei)sizeof(message) ? (GLsizei)sizeof(message) - 1 : 0;
    if (*length) memcpy(text, message, sizeof(message));
}
void APIENTRY GetProgramiv(GLuint, GLenum name, GLint *value)
{
    state &s = current();
    *value = 1;
    if (name == GL_LINK_STATUS && s.link_failures > 0)
    {
        --s.link_failures;
        *value = 0;
    }
}
void APIENTRY GetShaderInfoLog(GLuint, GLsizei, GLsizei *length, GLchar *) { *length = 0; }
GLint APIENTRY GetUniformLocation(GLuint, const GLchar *name) { return name[7] - '0'; }
void APIENTRY LinkProgram(GLuint p) { record("LinkProgram", p); }
void APIENTRY ShaderSource(GLuint s, GLsizei n, const GLchar *const *, const GLint *) { record("ShaderSource", s, n); }
void APIENTRY Uniform1i(GLint l, GLint v) { record("Uniform1i", l, v); }
void APIENTRY UseProgram(GLuint p) { record("UseProgram", p); }
void APIENTRY BindAttribLocation(GLuint p, GLuint i, const GLchar *) { record("BindAttribLocation", p, i); }
void APIENTRY EnableVertexAttribArray(GLuint i) { record("EnableVertexAttribArray", i); }
void APIENTRY DisableVertexAttribArray(GLuint i) { record("DisableVertexAttribArray", i); }
void APIENTRY VertexAttribPointer(GLuint i, GLint n, GLenum t, GLboolean norm, GLsizei s, const void *)
{
    record("VertexAttribPointer", i, n, t, norm, s);
}
void APIENTRY GenerateMipmap(GLenum t) { record("GenerateMipmap", t); }

const gl_procedures core = {
    Enable, Disable, IsEnabled, GetError, GetString, GetIntegerv, GetFloatv, PixelStorei, ReadPixels, ClearColor,
    Clear, Viewport, MatrixMode, LoadMatrixf, LoadIdentity, BlendFunc, DepthFunc, DepthMask, Fogi, Fogf, Fogfv,
    ActiveTexture, ClientActiveTexture, EnableClientState, DisableClientState, VertexPointer, ColorPointer,
    TexCoordPointer, BindTexture, GenTextures, DeleteTextures, TexParameteri, TexParameterf, TexImage2D,
    TexSubImage2D, DrawArrays, Build2DMipmaps,
    // (the looked-up members stay null here: the lookup hands them out)
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    ColorMask, TexEnvi, LineWidth, PointSize,
};

struct named_procedure
{
    const char *name;
    void *procedure;
};
const named_procedure looked_up[] = {
    {"glAttachShader", (void *)AttachShader},
    {"glCompileShader", (void *)CompileShader},
    {"glCreateProgram", (void *)CreateProgram},
    {"glDeleteProgram", (void *)DeleteProgram},
    {"glCreateShader", (void *)CreateShader},
    {"glDeleteShader", (void *)DeleteShader},
    {"glGetProgramInfoLog", (void *)GetProgramInfoLog},
    {"glGetProgramiv", (void *)GetProgramiv},
    {"glGetShaderInfoLog", (void *)GetShaderInfoLog},
    {"glGetUniformLocation", (void *)GetUniformLocation},
    {"glLinkProgram", (void *)LinkProgram},
    {"glShaderSource", (void *)ShaderSource},
    {"glUniform1i", (void *)Uniform1i},
    {"glUseProgram", (void *)UseProgram},
    {"glBindAttribLocation", (void *)BindAttribLocation},
    {"glEnableVertexAttribArray", (void *)EnableVertexAttribArray},
    {"glDisableVertexAttribArray", (void *)DisableVertexAttribArray},
    {"glVertexAttribPointer", (void *)VertexAttribPointer},
    {"glGenerateMipmap", (void *)GenerateMipmap},
    {"glGenerateMipmapEXT", (void *)GenerateMipmap},
};

void *lookup(const char *name)
{
    if (current().missing_procedures.count(name)) return nullptr;
    for (const named_procedure &entry : looked_up)
        if (!strcmp(entry.name, name)) return entry.procedure;
    return nullptr;
}

} // namespace

void install(void)
{
    current() = state();
    set_gl_core_procedures(&core);
    set_gl_proc_lookup(lookup);
    load_gl_core_procedures();
}

void uninstall(void)
{
    set_gl_core_procedures(nullptr);
    set_gl_proc_lookup(nullptr);
    gl = gl_procedures{};
    current() = state();
}

int32_t count_exact(const std::string &text)
{
    int32_t n = 0;
    for (const std::string &c : current().calls) n += c == text;
    return n;
}

int32_t count_prefix(const std::string &prefix)
{
    int32_t n = 0;
    for (const std::string &c : current().calls) n += c.compare(0, prefix.size(), prefix) == 0;
    return n;
}

} // namespace fake_gl
