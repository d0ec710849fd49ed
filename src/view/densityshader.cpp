#include "densityshader.h"

#include "glview.h"

#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

// The quad runs over the drawing coordinates (0, 0) .. (1, top); `cells` is
// the number of cells along x (the cell size is 1 / cells in both directions).
const char *const kVertexShader = R"(#version 130
out vec2 position;
void main() {
    position = gl_Vertex.xy;
    gl_Position = vec4(gl_Vertex.xy * 2.0 - 1.0, 0.0, 1.0);
}
)";

// Texel (c, r) holds the grey levels of the four corners of cell (c, r),
// counted from 0: lower left, lower right, upper right, upper left in r, g, b,
// a. One fetch per fragment instead of four: the software renderer's cost is
// in its texel fetches.
const char *const kFragmentShader = R"(#version 130
in vec2 position;
uniform sampler2D corners;
uniform vec2 cells;
out vec4 colour;
void main() {
    vec2 at = position * cells.x;
    ivec2 cell = clamp(ivec2(floor(at)), ivec2(0), ivec2(cells) - 1);
    vec2 f = at - vec2(cell);
    vec4 c = texelFetch(corners, cell, 0);
    float grey = f.x >= f.y
        ? c.r + f.x * (c.g - c.r) + f.y * (c.b - c.g)
        : c.r + f.y * (c.a - c.r) + f.x * (c.b - c.a);
    colour = vec4(grey, grey, grey, 1.0);
}
)";

// Cell (c, r), counted from the lower left, is texel (c, rows - 1 - r) of the
// upright picture.
const char *const kColourShader = R"(#version 130
in vec2 position;
uniform sampler2D picture;
uniform vec2 cells;
out vec4 colour;
void main() {
    ivec2 cell = clamp(ivec2(floor(position * cells.x)), ivec2(0), ivec2(cells) - 1);
    colour = vec4(texelFetch(picture, ivec2(cell.x, int(cells.y) - 1 - cell.y), 0).rgb, 1.0);
}
)";

unsigned nearestTexture() {
    unsigned texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

} // namespace

void uploadPictureTexture(unsigned texture, const QImage &picture, QSize *allocated) {
    glBindTexture(GL_TEXTURE_2D, texture);
    // QImage pads its lines to four bytes, as this alignment expects.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (picture.size() == *allocated) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, picture.width(), picture.height(), GL_RGB,
                        GL_UNSIGNED_BYTE, picture.constBits());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, picture.width(), picture.height(), 0, GL_RGB,
                     GL_UNSIGNED_BYTE, picture.constBits());
        *allocated = picture.size();
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

unsigned createPictureTexture() {
    return nearestTexture();
}

DensityShader::DensityShader() = default;

DensityShader::~DensityShader() = default;

bool DensityShader::initialize() {
    QOpenGLContext *context = QOpenGLContext::currentContext();
    if (!context || context->isOpenGLES() || context->format().majorVersion() < 3) {
        return false;
    }
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) ||
        !program->link()) {
        return false;
    }
    auto colourProgram = std::make_unique<QOpenGLShaderProgram>();
    if (!colourProgram->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !colourProgram->addShaderFromSourceCode(QOpenGLShader::Fragment, kColourShader) ||
        !colourProgram->link()) {
        return false;
    }
    m_program = std::move(program);
    m_colourProgram = std::move(colourProgram);
    m_texture = nearestTexture();
    m_colourTexture = nearestTexture();
    return true;
}

void DensityShader::release() {
    if (m_texture != 0) {
        glDeleteTextures(1, &m_texture);
        m_texture = 0;
    }
    if (m_colourTexture != 0) {
        glDeleteTextures(1, &m_colourTexture);
        m_colourTexture = 0;
    }
    m_colourSize = QSize();
    m_program.reset();
    m_colourProgram.reset();
    m_cornerColumns = m_cornerRows = 0;
}

void DensityShader::upload(const Grid &density) {
    m_showsColour = false;
    const std::uint32_t cols = density.NumCols();
    const std::uint32_t rows = density.NumRows();
    if (cols < 3 || rows < 3) {
        m_cornerColumns = m_cornerRows = 0;
        return;
    }
    // Corners (1, 1) .. (cols - 1, rows - 1): column 0 and row 0 are never
    // shown. Cell (c, r) has the corners (c + 1, r + 1) .. (c + 2, r + 2).
    const std::uint32_t cellColumns = cols - 2;
    const std::uint32_t cellRows = rows - 2;
    m_levels.resize(static_cast<std::size_t>(cols) * rows);
    for (std::size_t k = 0; k < m_levels.size(); ++k) {
        m_levels[k] = static_cast<float>(GLView::greyLevel(density.data()[k]));
    }
    m_corners.resize(static_cast<std::size_t>(cellColumns) * cellRows * 4);
    float *out = m_corners.data();
    for (std::uint32_t r = 0; r < cellRows; ++r) {
        const float *lower = m_levels.data() + static_cast<std::size_t>(r + 1) * cols + 1;
        const float *upper = lower + cols;
        for (std::uint32_t c = 0; c < cellColumns; ++c) {
            *out++ = lower[c];
            *out++ = lower[c + 1];
            *out++ = upper[c + 1];
            *out++ = upper[c];
        }
    }
    const int columns = static_cast<int>(cellColumns + 1);
    const int cornerRows = static_cast<int>(cellRows + 1);
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (columns == m_cornerColumns && cornerRows == m_cornerRows) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, columns - 1, cornerRows - 1, GL_RGBA, GL_FLOAT,
                        m_corners.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, columns - 1, cornerRows - 1, 0, GL_RGBA,
                     GL_FLOAT, m_corners.data());
        m_cornerColumns = columns;
        m_cornerRows = cornerRows;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

void DensityShader::uploadColour(const QImage &picture) {
    m_showsColour = true;
    // The density's size is forgotten: its next upload allocates afresh.
    m_cornerColumns = m_cornerRows = 0;
    if (picture.isNull()) {
        return;
    }
    uploadPictureTexture(m_colourTexture, picture, &m_colourSize);
    m_cornerColumns = picture.width() + 1;
    m_cornerRows = picture.height() + 1;
}

void DensityShader::paint() {
    if (!m_program || m_cornerColumns == 0) {
        return;
    }
    if (m_showsColour) {
        paintColour();
        return;
    }
    const float cellsX = static_cast<float>(m_cornerColumns - 1);
    const float cellsY = static_cast<float>(m_cornerRows - 1);
    // The same cell size vertically: a grid with fewer rows than columns
    // covers only the lower part of the view, a taller one runs off the top.
    const float top = cellsY / cellsX;
    m_program->bind();
    m_program->setUniformValue("corners", 0);
    m_program->setUniformValue("cells", cellsX, cellsY);
    drawQuad(m_texture, top);
    m_program->release();
}

void DensityShader::paintColour() {
    const float cellsX = static_cast<float>(m_cornerColumns - 1);
    const float cellsY = static_cast<float>(m_cornerRows - 1);
    m_colourProgram->bind();
    m_colourProgram->setUniformValue("picture", 0);
    m_colourProgram->setUniformValue("cells", cellsX, cellsY);
    drawQuad(m_colourTexture, cellsY / cellsX);
    m_colourProgram->release();
}

void DensityShader::drawQuad(unsigned texture, float top) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_TRIANGLE_STRIP);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glVertex2f(0.0f, top);
    glVertex2f(1.0f, top);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
}
