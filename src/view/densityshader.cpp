#include "densityshader.h"

#include "glview.h"

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

// Texel (a, b) holds the grey level of grid corner (a + 1, b + 1); cell (c, r)
// counted from 0 has the corners (c, r), (c + 1, r), (c + 1, r + 1), (c, r + 1).
const char *const kFragmentShader = R"(#version 130
in vec2 position;
uniform sampler2D corners;
uniform vec2 cells;
out vec4 colour;
void main() {
    vec2 at = position * cells.x;
    ivec2 cell = clamp(ivec2(floor(at)), ivec2(0), ivec2(cells) - 1);
    vec2 f = at - vec2(cell);
    float lowerLeft = texelFetch(corners, cell, 0).r;
    float lowerRight = texelFetch(corners, cell + ivec2(1, 0), 0).r;
    float upperRight = texelFetch(corners, cell + ivec2(1, 1), 0).r;
    float upperLeft = texelFetch(corners, cell + ivec2(0, 1), 0).r;
    float grey = f.x >= f.y
        ? lowerLeft + f.x * (lowerRight - lowerLeft) + f.y * (upperRight - lowerRight)
        : lowerLeft + f.y * (upperLeft - lowerLeft) + f.x * (upperRight - upperLeft);
    colour = vec4(grey, grey, grey, 1.0);
}
)";

} // namespace

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
    m_program = std::move(program);
    glGenTextures(1, &m_texture);
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

void DensityShader::release() {
    if (m_texture != 0) {
        glDeleteTextures(1, &m_texture);
        m_texture = 0;
    }
    m_program.reset();
    m_cornerColumns = m_cornerRows = 0;
}

void DensityShader::upload(const Grid &density) {
    const std::uint32_t cols = density.NumCols();
    const std::uint32_t rows = density.NumRows();
    if (cols < 3 || rows < 3) {
        m_cornerColumns = m_cornerRows = 0;
        return;
    }
    // Corners (1, 1) .. (cols - 1, rows - 1): column 0 and row 0 are never shown.
    const int columns = static_cast<int>(cols - 1);
    const int cornerRows = static_cast<int>(rows - 1);
    m_corners.resize(static_cast<std::size_t>(columns) * static_cast<std::size_t>(cornerRows));
    float *out = m_corners.data();
    for (std::uint32_t b = 1; b < rows; ++b) {
        const double *row = density.data() + static_cast<std::size_t>(b) * cols;
        for (std::uint32_t a = 1; a < cols; ++a) {
            *out++ = static_cast<float>(GLView::greyLevel(row[a]));
        }
    }
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (columns == m_cornerColumns && cornerRows == m_cornerRows) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, columns, cornerRows, GL_RED, GL_FLOAT,
                        m_corners.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, columns, cornerRows, 0, GL_RED, GL_FLOAT,
                     m_corners.data());
        m_cornerColumns = columns;
        m_cornerRows = cornerRows;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

void DensityShader::paint() {
    if (!m_program || m_cornerColumns == 0) {
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
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glBegin(GL_TRIANGLE_STRIP);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glVertex2f(0.0f, top);
    glVertex2f(1.0f, top);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    m_program->release();
}
