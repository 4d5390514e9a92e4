// Phong shading of the editor's meshes: positions and normals to eye space.
attribute highp vec3 vertexPosition;
attribute highp vec3 vertexNormal;

uniform highp mat4 modelViewMatrix;
uniform highp mat3 normalMatrix;
uniform highp mat4 projectionMatrix;

varying highp vec3 eyePosition;
varying highp vec3 eyeNormal;

void main()
{
    eyeNormal = normalMatrix * vertexNormal;
    vec4 position = modelViewMatrix * vec4(vertexPosition, 1.0);
    eyePosition = position.xyz;
    gl_Position = projectionMatrix * position;
}
