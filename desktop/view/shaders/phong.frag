// Phong shading with one point light in eye space. Faces are lit from the side the
// viewer sees (meshes from files do not always wind their faces outwards); with
// flatShading the face's own normal is used instead of the interpolated one.
#ifdef GL_ES
#extension GL_OES_standard_derivatives : enable
precision highp float;
#endif

struct LightInfo {
    vec4 position;
    vec3 intensity;
};

struct MaterialInfo {
    vec3 ambientColor;
    vec3 diffuseColor;
    vec3 specularColor;
    float shininess;
    float opacity;
};

uniform LightInfo light;
uniform MaterialInfo material;
uniform bool flatShading;

varying highp vec3 eyePosition;
varying highp vec3 eyeNormal;

void main()
{
    vec3 colour = light.intensity * material.ambientColor;
    // Lines and markers carry only an ambient colour: no lighting to work out.
    if (material.diffuseColor != vec3(0.0) || material.specularColor != vec3(0.0)) {
        vec3 n;
        if (flatShading)
            n = normalize(cross(dFdx(eyePosition), dFdy(eyePosition)));
        else
            n = normalize(eyeNormal);
        vec3 s = normalize(light.position.xyz - eyePosition * light.position.w);
        // Towards the viewer: the eye looks along -z (orthographic and perspective alike
        // for the purpose of lighting).
        vec3 v = vec3(0.0, 0.0, 1.0);
        if (dot(n, v) < 0.0)
            n = -n;
        float diffuse = max(dot(s, n), 0.0);
        colour += light.intensity * material.diffuseColor * diffuse;
        if (diffuse > 0.0 && material.specularColor != vec3(0.0)) {
            vec3 r = reflect(-s, n);
            colour += light.intensity * material.specularColor * pow(max(dot(r, v), 0.0), material.shininess);
        }
    }
    gl_FragColor = vec4(colour, material.opacity);
}
