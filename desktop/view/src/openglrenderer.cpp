#include "openglrenderer.h"

#include "meshgeometry.h"

#include <QDebug>
#include <QThreadPool>
#include <QtMath>

#include <cmath>
#include <utility>

// The shaders are compiled into this library; a static library must ask for its resources.
static void initViewResources()
{
    Q_INIT_RESOURCE(view);
}

namespace {

const QVector3D kBackground(0.93f, 0.94f, 0.96f);
const QVector3D kPlatformColour(0.55f, 0.57f, 0.6f);
const QVector3D kGridColour(0.42f, 0.44f, 0.47f);
const QVector3D kVolumeEdgeColour(0.6f, 0.62f, 0.66f);
const QVector3D kModelColour(0.72f, 0.72f, 0.74f);
const QVector3D kSelectedColour(0.33f, 0.58f, 0.93f);
const QVector3D kSupportColour(0.86f, 0.84f, 0.62f);
const QVector3D kHighlightColour(0.93f, 0.25f, 0.2f);
const QVector3D kOverhangColour(0.9f, 0.12f, 0.1f); // unlit: seen from below, they face away from the light
const QVector3D kWallColour(0.93f, 0.2f, 0.16f);
const QVector3D kArrowColour(0.98f, 0.6f, 0.1f);
const QVector3D kTipColour(0.98f, 0.6f, 0.1f);
const QVector3D kDrainHoleColour(0.15f, 0.75f, 0.95f);
const QVector3D kRingColours[3] = {{0.9f, 0.2f, 0.2f}, {0.2f, 0.75f, 0.25f}, {0.2f, 0.4f, 0.95f}};
const QVector3D kActiveRingColour(0.98f, 0.6f, 0.1f);
// The ring being dragged is drawn at these radii (of the gimbal's), so that it stands out.
const float kActiveRingRadii[3] = {0.99f, 1.0f, 1.01f};

constexpr float kPlatformThickness = 2.0f;
constexpr float kGridSpacing = 10.0f;
constexpr float kWallThickness = 0.5f;
constexpr float kArrowLength = 15.0f;
constexpr float kTipRadius = 1.2f;
constexpr int kRingSegments = 96;

// A software renderer spends most of a moving frame on the model's vertices and triangles
// (its pixels are fewer then: see RendererContainer): above the threshold a model is drawn
// reduced while the camera moves.
std::atomic<int> reduceModelsAbove {150000};
std::atomic<int> reducedTriangleTarget {100000};

void appendVertex(std::vector<float> &vertices, const QVector3D &position, const QVector3D &normal)
{
    vertices.insert(vertices.end(), {position.x(), position.y(), position.z(), normal.x(), normal.y(), normal.z()});
}

void appendTriangle(std::vector<float> &vertices, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    const QVector3D normal = MeshImporter::facetNormal(a, b, c);
    appendVertex(vertices, a, normal);
    appendVertex(vertices, b, normal);
    appendVertex(vertices, c, normal);
}

void appendLine(std::vector<float> &vertices, const QVector3D &a, const QVector3D &b)
{
    const QVector3D up(0.0f, 1.0f, 0.0f);
    appendVertex(vertices, a, up);
    appendVertex(vertices, b, up);
}

std::vector<float> sphereVertices()
{
    constexpr int slices = 16;
    constexpr int stacks = 8;
    const auto point = [](int slice, int stack) {
        const double theta = 2.0 * M_PI * slice / slices;
        const double phi = M_PI * stack / stacks - M_PI / 2.0;
        return QVector3D(
            float(std::cos(phi) * std::cos(theta)), float(std::sin(phi)), float(std::cos(phi) * std::sin(theta)));
    };
    std::vector<float> vertices;
    for (int stack = 0; stack < stacks; ++stack) {
        for (int slice = 0; slice < slices; ++slice) {
            const QVector3D a = point(slice, stack);
            const QVector3D b = point(slice + 1, stack);
            const QVector3D c = point(slice + 1, stack + 1);
            const QVector3D d = point(slice, stack + 1);
            // Normals of a sphere are its points.
            for (const QVector3D &v : {a, c, b, a, d, c})
                appendVertex(vertices, v, v);
        }
    }
    return vertices;
}

std::vector<float> arrowVertices()
{
    // A cone from the tip at the origin up to y = 0.35, then a shaft up to y = 1.
    constexpr int sides = 16;
    constexpr float headLength = 0.35f;
    constexpr float headRadius = 0.14f;
    constexpr float shaftRadius = 0.05f;
    std::vector<float> vertices;
    const auto ring = [](int side, float radius, float y) {
        const double angle = 2.0 * M_PI * side / sides;
        return QVector3D(float(std::cos(angle)) * radius, y, float(std::sin(angle)) * radius);
    };
    const QVector3D tip(0.0f, 0.0f, 0.0f);
    for (int side = 0; side < sides; ++side) {
        const QVector3D headA = ring(side, headRadius, headLength);
        const QVector3D headB = ring(side + 1, headRadius, headLength);
        appendTriangle(vertices, tip, headB, headA);
        appendTriangle(vertices, QVector3D(0.0f, headLength, 0.0f), headA, headB);
        const QVector3D lowA = ring(side, shaftRadius, headLength);
        const QVector3D lowB = ring(side + 1, shaftRadius, headLength);
        const QVector3D highA = ring(side, shaftRadius, 1.0f);
        const QVector3D highB = ring(side + 1, shaftRadius, 1.0f);
        appendTriangle(vertices, lowA, lowB, highB);
        appendTriangle(vertices, lowA, highB, highA);
        appendTriangle(vertices, QVector3D(0.0f, 1.0f, 0.0f), highB, highA);
    }
    return vertices;
}

std::vector<float> ringVertices()
{
    std::vector<float> vertices;
    for (int segment = 0; segment < kRingSegments; ++segment) {
        const double a = 2.0 * M_PI * segment / kRingSegments;
        const double b = 2.0 * M_PI * (segment + 1) / kRingSegments;
        appendLine(vertices, QVector3D(float(std::cos(a)), 0.0f, float(std::sin(a))),
            QVector3D(float(std::cos(b)), 0.0f, float(std::sin(b))));
    }
    return vertices;
}

// Turns +y onto the direction.
QQuaternion turnFromUp(const QVector3D &direction)
{
    return QQuaternion::rotationTo(QVector3D(0.0f, 1.0f, 0.0f), direction.normalized());
}

} // namespace

void OpenGLRenderer::GpuMesh::setInterleaved(std::vector<float> vertices)
{
    indexed = false;
    positionsOnly = false;
    cull = false;
    pendingVertices = std::move(vertices);
    pendingIndices.clear();
    uploadPending = true;
}

void OpenGLRenderer::GpuMesh::setIndexed(MeshVertices::Indexed mesh)
{
    indexed = true;
    positionsOnly = true;
    cull = mesh.closed;
    cullFace = mesh.outward ? GL_BACK : GL_FRONT;
    pendingVertices = std::move(mesh.positions);
    pendingIndices = std::move(mesh.indices);
    uploadPending = true;
}

void OpenGLRenderer::GpuMesh::setFacesOf(const GpuMesh &vertices, std::vector<std::uint32_t> indices)
{
    indexed = true;
    positionsOnly = vertices.positionsOnly;
    cull = vertices.cull;
    cullFace = vertices.cullFace;
    sharedVertices = true;
    vertexBuffer = vertices.vertexBuffer; // the same buffer on the card
    pendingVertices.clear();
    pendingIndices = std::move(indices);
    uploadPending = true;
}

void OpenGLRenderer::GpuMesh::setTriangles(const QList<MeshTriangle *> &triangles)
{
    setWelded(MeshVertices::weld(triangles), triangles);
}

void OpenGLRenderer::GpuMesh::setWelded(MeshVertices::Indexed welded, const QList<MeshTriangle *> &triangles)
{
    if (welded.closed) {
        setIndexed(std::move(welded));
        return;
    }
    std::vector<float> vertices;
    MeshVertices::appendInterleaved(vertices, triangles);
    setInterleaved(std::move(vertices));
}

OpenGLRenderer::OpenGLRenderer()
{
    initViewResources();
}

OpenGLRenderer::~OpenGLRenderer() = default;

void OpenGLRenderer::setReductionLimits(int modelsAbove, int targetTriangles)
{
    reduceModelsAbove = modelsAbove;
    reducedTriangleTarget = targetTriangles;
}

// Uploads the model's mesh whole and, for a large one, starts building its reduced copy
// from the welded corners (the triangles themselves may be read only now).
void OpenGLRenderer::setModelMesh(ModelBuffers &buffers, const QList<MeshTriangle *> &triangles)
{
    MeshVertices::Indexed welded = MeshVertices::weld(triangles);
    buffers.triangles = triangles.size();
    buffers.reducing.reset();
    buffers.reducedTriangles = 0;
    buffers.clustering.reset();
    if (triangles.size() > reduceModelsAbove) {
        auto copy = std::make_shared<ReducedCopy>();
        auto source = std::make_shared<MeshVertices::Indexed>(welded);
        const size_t target = size_t(std::max(0, reducedTriangleTarget.load()));
        QThreadPool::globalInstance()->start([copy, source, target] {
            copy->mesh = MeshVertices::reduce(*source, target, copy->clustering.get());
            copy->ready.store(true, std::memory_order_release);
        });
        buffers.reducing = std::move(copy);
    }
    buffers.weldedPositions = welded.positions;
    buffers.weldedCorners = welded.indices;
    buffers.model.setWelded(std::move(welded), triangles);
}

OpenGLRenderer::GpuMesh &OpenGLRenderer::meshToDraw(ModelBuffers &buffers)
{
    if (buffers.reducing && buffers.reducing->ready.load(std::memory_order_acquire)) {
        buffers.reducedTriangles = int(buffers.reducing->mesh.indices.size() / 3);
        buffers.reducedMesh = buffers.reducing->mesh;
        buffers.reduced.setIndexed(std::move(buffers.reducing->mesh));
        buffers.clustering = std::move(buffers.reducing->clustering);
        buffers.reducing.reset();
        // Up to the card at once: the first frame of a move should not wait for it.
        upload(buffers.reduced);
    }
    const bool reduced = m_cameraMoving && buffers.reducedTriangles > 0;
    m_drawnModelTriangles += reduced ? buffers.reducedTriangles : buffers.triangles;
    return reduced ? buffers.reduced : buffers.model;
}

void OpenGLRenderer::synchronize(const SceneSnapshot &scene, bool reuploadModels)
{
    m_view = scene.viewMatrix;
    m_projection = scene.projectionMatrix;
    m_area = scene.area;
    m_wallsCrossed = scene.wallsCrossed;
    m_gimbal = scene.gimbal;
    m_baseArrow = scene.baseArrow;
    m_supportTip = scene.supportTip;
    m_drainHoles = scene.drainHoles;
    m_drainHoleRadius = scene.drainHoleRadius;
    m_cameraMoving = scene.cameraMoving;

    std::unordered_map<const UserImportedMesh *, ModelBuffers> kept;
    m_drawModels.clear();
    std::vector<float> anchorVertices;
    std::shared_ptr<const std::vector<int>> overhangs;
    for (const SceneSnapshot::Model &model : scene.models) {
        const UserImportedMesh *key = model.mesh.get();
        auto found = m_models.find(key);
        ModelBuffers buffers;
        if (found != m_models.end()) {
            buffers = std::move(found->second);
            m_models.erase(found);
        }
        if (!buffers.mesh || reuploadModels) {
            buffers.mesh = model.mesh;
            setModelMesh(buffers, model.mesh->triangles());
        }
        const bool hasSupports = !model.supportTriangles.isEmpty();
        if (!hasSupports) {
            buffers.supportSource.clear();
            buffers.supports.count = 0;
        } else if (reuploadModels || !buffers.supportSource.isSharedWith(model.supportTriangles)) {
            buffers.supportSource = model.supportTriangles;
            buffers.supports.setTriangles(model.supportTriangles);
        }
        // Highlighted anchors are few and change with the mouse: placed in the scene here.
        for (const UserImportedMeshSingleAnchorSupports *anchor : model.highlightedAnchors) {
            for (const MeshTriangle *triangle : anchor->triangles()) {
                const QVector3D a = model.supportMatrix.map(triangle->a);
                const QVector3D b = model.supportMatrix.map(triangle->b);
                const QVector3D c = model.supportMatrix.map(triangle->c);
                appendTriangle(anchorVertices, a, b, c);
            }
        }
        if (model.selected) {
            overhangs = model.overhangs;
            m_overhangMatrix = model.modelMatrix;
            m_overhangModel = key;
            m_overhangModelTurning = model.turning;
        }
        m_drawModels.push_back({key, model.modelMatrix, model.selected, hasSupports, model.supportMatrix});
        kept.emplace(key, std::move(buffers));
    }
    // Buffers of models that left the scene go with the old map.
    m_models = std::move(kept);
    if (!overhangs && !m_overhangModelTurning)
        m_overhangModel = nullptr;
    m_highlightedAnchors.setInterleaved(std::move(anchorVertices));
    setOverhangs(overhangs, reuploadModels);
    if (reuploadModels)
        m_turnedOverhangModel = nullptr;
}

// The overhangs' faces as indices into the selected model's vertex buffer: its welded
// corners, or three vertices a face when it went up as it is.
void OpenGLRenderer::setOverhangs(const std::shared_ptr<const std::vector<int>> &faces, bool reuploaded)
{
    if (faces == m_overhangSource && m_overhangModel == m_overhangSourceModel && !reuploaded)
        return;
    m_overhangSource = faces;
    m_overhangSourceModel = m_overhangModel;
    m_overhangCorners.clear();
    const auto found = faces && m_overhangModel ? m_models.find(m_overhangModel) : m_models.end();
    if (found == m_models.end()) {
        // Nothing to draw; the buffer they were drawn from stays the model's.
        m_overhangs.uploadPending = false;
        m_overhangs.count = 0;
        return;
    }
    const ModelBuffers &buffers = found->second;
    m_overhangCorners = MeshVertices::facesOf(buffers.weldedCorners, *faces);
    m_overhangs.setFacesOf(buffers.model, vertexIndicesOf(buffers, *faces));
}

// Welded corners, or three vertices a face when the mesh went up as it is.
std::vector<std::uint32_t> OpenGLRenderer::vertexIndicesOf(const ModelBuffers &buffers, const std::vector<int> &faces)
{
    if (buffers.model.positionsOnly)
        return MeshVertices::facesOf(buffers.weldedCorners, faces);
    std::vector<std::uint32_t> vertices;
    vertices.reserve(faces.size() * 3);
    for (const int face : faces) {
        if (face >= 0 && face < buffers.triangles)
            vertices.insert(
                vertices.end(), {std::uint32_t(face) * 3, std::uint32_t(face) * 3 + 1, std::uint32_t(face) * 3 + 2});
    }
    return vertices;
}

void OpenGLRenderer::initialize()
{
    initializeOpenGLFunctions();
    m_program = std::make_unique<QOpenGLShaderProgram>();
    const bool built
        = m_program->addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/shaders/Renderer/phong.vert"))
        && m_program->addShaderFromSourceFile(QOpenGLShader::Fragment, QStringLiteral(":/shaders/Renderer/phong.frag"))
        && m_program->link();
    if (!built)
        qDebug().noquote() << "ERROR. OpenGLRenderer::initialize. Shaders failed: " + m_program->log();
    m_positionLocation = m_program->attributeLocation("vertexPosition");
    m_normalLocation = m_program->attributeLocation("vertexNormal");

    std::vector<float> box;
    const QList<MeshTriangle *> boxTriangles = MeshGeometry::centredBox(1.0f, 1.0f, 1.0f);
    MeshVertices::appendInterleaved(box, boxTriangles);
    qDeleteAll(boxTriangles);
    m_box.setInterleaved(std::move(box));
    m_sphere.setInterleaved(sphereVertices());
    m_arrow.setInterleaved(arrowVertices());
    m_ring.setInterleaved(ringVertices());
    m_initialized = true;
}

void OpenGLRenderer::buildAreaMeshes(const PlatformArea &area)
{
    const float halfWidth = float(area.halfWidth);
    const float halfDepth = float(area.halfDepth);
    const float height = float(area.height);
    const float lift = 0.05f; // just above the plate
    std::vector<float> grid;
    for (float x = 0.0f; x <= halfWidth + 1e-3f; x += kGridSpacing) {
        for (const float side : {x, -x}) {
            appendLine(grid, QVector3D(side, lift, -halfDepth), QVector3D(side, lift, halfDepth));
            if (x == 0.0f)
                break;
        }
    }
    for (float z = 0.0f; z <= halfDepth + 1e-3f; z += kGridSpacing) {
        for (const float side : {z, -z}) {
            appendLine(grid, QVector3D(-halfWidth, lift, side), QVector3D(halfWidth, lift, side));
            if (z == 0.0f)
                break;
        }
    }
    m_grid.setInterleaved(std::move(grid));

    std::vector<float> edges;
    const float xs[2] = {-halfWidth, halfWidth};
    const float zs[2] = {-halfDepth, halfDepth};
    for (const float x : xs) {
        for (const float z : zs)
            appendLine(edges, QVector3D(x, 0.0f, z), QVector3D(x, height, z));
    }
    for (const float y : {0.0f, height}) {
        for (const float z : zs)
            appendLine(edges, QVector3D(-halfWidth, y, z), QVector3D(halfWidth, y, z));
        for (const float x : xs)
            appendLine(edges, QVector3D(x, y, -halfDepth), QVector3D(x, y, halfDepth));
    }
    m_volumeEdges.setInterleaved(std::move(edges));
    m_builtArea = area;
}

void OpenGLRenderer::upload(GpuMesh &mesh)
{
    if (!mesh.uploadPending)
        return;
    mesh.uploadPending = false;
    if (!mesh.sharedVertices) {
        if (!mesh.vertexBuffer.isCreated())
            mesh.vertexBuffer.create();
        mesh.vertexBuffer.bind();
        mesh.vertexBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
        mesh.vertexBuffer.allocate(mesh.pendingVertices.data(), int(mesh.pendingVertices.size() * sizeof(float)));
        mesh.vertexBuffer.release();
    }
    if (mesh.indexed) {
        if (!mesh.indexBuffer.isCreated())
            mesh.indexBuffer.create();
        mesh.indexBuffer.bind();
        mesh.indexBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
        mesh.indexBuffer.allocate(mesh.pendingIndices.data(), int(mesh.pendingIndices.size() * sizeof(std::uint32_t)));
        mesh.indexBuffer.release();
        mesh.count = int(mesh.pendingIndices.size());
    } else {
        mesh.count = int(mesh.pendingVertices.size() / MeshVertices::kInterleavedFloats);
    }
    std::vector<float>().swap(mesh.pendingVertices);
    std::vector<std::uint32_t>().swap(mesh.pendingIndices);
}

void OpenGLRenderer::draw(GpuMesh &mesh, const QMatrix4x4 &modelMatrix, const Material &material, GLenum mode)
{
    upload(mesh);
    if (mesh.count == 0)
        return;
    const QMatrix4x4 modelView = m_view * modelMatrix;
    m_program->setUniformValue("modelViewMatrix", modelView);
    m_program->setUniformValue("normalMatrix", modelView.normalMatrix());
    if (material.lit) {
        m_program->setUniformValue("material.ambientColor", material.colour * 0.3f);
        m_program->setUniformValue("material.diffuseColor", material.colour * 0.7f);
        m_program->setUniformValue(
            "material.specularColor", material.shiny ? QVector3D(0.18f, 0.18f, 0.18f) : QVector3D());
    } else {
        m_program->setUniformValue("material.ambientColor", material.colour);
        m_program->setUniformValue("material.diffuseColor", QVector3D());
        m_program->setUniformValue("material.specularColor", QVector3D());
    }
    m_program->setUniformValue("material.shininess", 40.0f);
    m_program->setUniformValue("material.opacity", material.opacity);
    // Welded meshes carry no normals: their faces are lit from their own plane.
    m_program->setUniformValue("flatShading", GLint(mesh.positionsOnly ? 1 : 0));
    mesh.vertexBuffer.bind();
    m_program->enableAttributeArray(m_positionLocation);
    if (mesh.positionsOnly) {
        m_program->setAttributeBuffer(m_positionLocation, GL_FLOAT, 0, 3, 3 * int(sizeof(float)));
        m_program->disableAttributeArray(m_normalLocation);
        m_program->setAttributeValue(m_normalLocation, QVector3D(0.0f, 1.0f, 0.0f));
    } else {
        const int stride = MeshVertices::kInterleavedFloats * int(sizeof(float));
        m_program->setAttributeBuffer(m_positionLocation, GL_FLOAT, 0, 3, stride);
        m_program->enableAttributeArray(m_normalLocation);
        m_program->setAttributeBuffer(m_normalLocation, GL_FLOAT, 3 * int(sizeof(float)), 3, stride);
    }
    if (mesh.indexed) {
        mesh.indexBuffer.bind();
        if (mesh.cull) {
            glEnable(GL_CULL_FACE);
            glCullFace(mesh.cullFace);
        }
        glDrawElements(mode, mesh.count, GL_UNSIGNED_INT, nullptr);
        glDisable(GL_CULL_FACE);
        mesh.indexBuffer.release();
    } else {
        glDrawArrays(mode, 0, mesh.count);
    }
    if (!mesh.positionsOnly)
        m_program->disableAttributeArray(m_normalLocation);
    m_program->disableAttributeArray(m_positionLocation);
    mesh.vertexBuffer.release();
}

void OpenGLRenderer::render(const QSize &framebufferSize)
{
    if (!startFrame(framebufferSize))
        return;
    m_program->bind();
    m_program->setUniformValue("projectionMatrix", m_projection);
    // A light above and to the left of the viewer, in eye space.
    m_program->setUniformValue("light.position", QVector4D(-0.35f, 0.55f, 1.0f, 0.0f));
    m_program->setUniformValue("light.intensity", QVector3D(1.0f, 1.0f, 1.0f));
    drawPlatform();
    drawModels();
    drawEditingHelpers();
    drawCrossedWalls();
    m_program->release();
}

// Builds what is missing, clears the framebuffer and sets the state every frame starts
// from. False when there is no shader program to draw with.
bool OpenGLRenderer::startFrame(const QSize &framebufferSize)
{
    if (!m_initialized)
        initialize();
    if (m_area.halfWidth != m_builtArea.halfWidth || m_area.halfDepth != m_builtArea.halfDepth
        || m_area.height != m_builtArea.height)
        buildAreaMeshes(m_area);

    glViewport(0, 0, framebufferSize.width(), framebufferSize.height());
    glClearColor(kBackground.x(), kBackground.y(), kBackground.z(), 1.0f);
    glClearDepthf(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glDisable(GL_BLEND);
    return m_program->isLinked();
}

// A plate whose top is the plane y = 0, its grid, and the edges of the build volume.
void OpenGLRenderer::drawPlatform()
{
    QMatrix4x4 plate;
    plate.translate(0.0f, -kPlatformThickness / 2.0f, 0.0f);
    plate.scale(float(2.0 * m_area.halfWidth), kPlatformThickness, float(2.0 * m_area.halfDepth));
    // The plate is lit without a highlight: it covers much of the view.
    draw(m_box, plate, {kPlatformColour, 1.0f, true, false});
    draw(m_grid, QMatrix4x4(), {kGridColour, 1.0f, false}, GL_LINES);
    draw(m_volumeEdges, QMatrix4x4(), {kVolumeEdgeColour, 1.0f, false}, GL_LINES);
}

// The models with their supports, then the highlighted anchors over those.
void OpenGLRenderer::drawModels()
{
    m_drawnModelTriangles = 0;
    for (const DrawModel &model : m_drawModels) {
        ModelBuffers &buffers = m_models[model.key];
        draw(meshToDraw(buffers), model.modelMatrix, {model.selected ? kSelectedColour : kModelColour, 1.0f, true});
        if (model.hasSupports)
            draw(buffers.supports, model.supportMatrix, {kSupportColour, 1.0f, true});
    }
    // Unsupported overhangs lie on the model's own faces: pulled towards the viewer so that
    // they win the depth test.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(-1.0f, -1.0f);
    draw(overhangsToDraw(), m_overhangMatrix, {kOverhangColour, 1.0f, false});
    glDisable(GL_POLYGON_OFFSET_FILL);
    glDepthFunc(GL_ALWAYS);
    draw(m_highlightedAnchors, QMatrix4x4(), {kHighlightColour, 1.0f, true});
    glDepthFunc(GL_LEQUAL);
}

OpenGLRenderer::GpuMesh &OpenGLRenderer::overhangsToDraw()
{
    const auto found = m_overhangModel ? m_models.find(m_overhangModel) : m_models.end();
    if (found != m_models.end() && m_overhangModelTurning)
        return turnedOverhangs(found->second);
    if (!m_cameraMoving || found == m_models.end() || found->second.reducedTriangles == 0 || !found->second.clustering)
        return m_overhangs;
    const ModelBuffers &buffers = found->second;
    if (m_reducedOverhangSource != m_overhangSource || m_reducedOverhangClustering != buffers.clustering) {
        m_reducedOverhangSource = m_overhangSource;
        m_reducedOverhangClustering = buffers.clustering;
        std::vector<std::uint32_t> faces = MeshVertices::reduceFaces(m_overhangCorners, *buffers.clustering);
        m_overhangsCarried = !faces.empty();
        m_reducedOverhangs.setFacesOf(buffers.reduced, std::move(faces));
    }
    // None carried over (faces not of the model): the whole ones, as at rest.
    return m_overhangsCarried ? m_reducedOverhangs : m_overhangs;
}

OpenGLRenderer::GpuMesh &OpenGLRenderer::turnedOverhangs(ModelBuffers &buffers)
{
    const bool reduced = m_cameraMoving && buffers.reducedTriangles > 0;
    if (m_overhangModel == m_turnedOverhangModel && reduced == m_turnedOverhangsReduced
        && m_overhangMatrix == m_turnedOverhangMatrix)
        return m_turnedOverhangs;
    m_turnedOverhangModel = m_overhangModel;
    m_turnedOverhangsReduced = reduced;
    m_turnedOverhangMatrix = m_overhangMatrix;
    if (reduced) {
        const MeshVertices::Indexed &copy = buffers.reducedMesh;
        const std::vector<int> faces = MeshVertices::downwardFaces(copy.positions, copy.indices, m_overhangMatrix);
        m_turnedOverhangs.setFacesOf(buffers.reduced, MeshVertices::facesOf(copy.indices, faces));
    } else {
        const std::vector<int> faces
            = MeshVertices::downwardFaces(buffers.weldedPositions, buffers.weldedCorners, m_overhangMatrix);
        m_turnedOverhangs.setFacesOf(buffers.model, vertexIndicesOf(buffers, faces));
    }
    return m_turnedOverhangs;
}

// The support tip, the drain holes, the select-base arrow and the rotation gimbal, when
// they show.
void OpenGLRenderer::drawEditingHelpers()
{
    for (const QVector3D &hole : m_drainHoles) {
        QMatrix4x4 marker;
        marker.translate(hole);
        marker.scale(m_drainHoleRadius);
        draw(m_sphere, marker, {kDrainHoleColour, 1.0f, true});
    }
    if (m_supportTip) {
        QMatrix4x4 tip;
        tip.translate(*m_supportTip);
        tip.scale(kTipRadius);
        draw(m_sphere, tip, {kTipColour, 1.0f, true});
    }
    if (m_baseArrow) {
        QMatrix4x4 arrow;
        arrow.translate(m_baseArrow->point);
        arrow.rotate(turnFromUp(-m_baseArrow->direction));
        arrow.scale(kArrowLength);
        draw(m_arrow, arrow, {kArrowColour, 1.0f, true});
    }
    if (!m_gimbal)
        return;
    // Rings about x, y and z; in fixed-rotation mode they are drawn over the model, and so
    // is the ring being dragged, in a colour of its own.
    const QQuaternion turns[3] = {QQuaternion::fromAxisAndAngle(0.0f, 0.0f, 1.0f, 90.0f), QQuaternion(),
        QQuaternion::fromAxisAndAngle(1.0f, 0.0f, 0.0f, 90.0f)};
    for (int axis = 0; axis < 3; ++axis) {
        const bool active = axis == m_gimbal->activeAxis;
        glDepthFunc(active || m_gimbal->fixedRotationMode ? GL_ALWAYS : GL_LEQUAL);
        for (const float radius : kActiveRingRadii) {
            if (!active && radius != 1.0f)
                continue;
            QMatrix4x4 ring;
            ring.translate(m_gimbal->centre);
            ring.rotate(turns[axis]);
            ring.scale(m_gimbal->radius * radius);
            draw(m_ring, ring, {active ? kActiveRingColour : kRingColours[axis], 1.0f, false}, GL_LINES);
        }
    }
    glDepthFunc(GL_LEQUAL);
}

// Walls crossed by a model: translucent panels on the bounds of the volume.
void OpenGLRenderer::drawCrossedWalls()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    for (int kind = 0; kind < CollisionWall::kKinds; ++kind) {
        if (m_wallsCrossed[size_t(kind)])
            draw(m_box, wallMatrix(kind), {kWallColour, 0.3f, false});
    }
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
}

// The unit box stretched over a wall of the volume: back, right, front, left, then top.
QMatrix4x4 OpenGLRenderer::wallMatrix(int kind) const
{
    const float halfWidth = float(m_area.halfWidth);
    const float halfDepth = float(m_area.halfDepth);
    const float height = float(m_area.height);
    QMatrix4x4 wall;
    switch (kind) {
    case 0:
    case 2:
        wall.translate(0.0f, height / 2.0f, kind == 0 ? -halfDepth : halfDepth);
        wall.scale(2.0f * halfWidth, height, kWallThickness);
        break;
    case 1:
    case 3:
        wall.translate(kind == 1 ? halfWidth : -halfWidth, height / 2.0f, 0.0f);
        wall.scale(kWallThickness, height, 2.0f * halfDepth);
        break;
    default:
        wall.translate(0.0f, height, 0.0f);
        wall.scale(2.0f * halfWidth, kWallThickness, 2.0f * halfDepth);
        break;
    }
    return wall;
}
