.pragma library

// A model's size as the pages show it, from a size in the editor's axes (x, y up, z):
// width × depth × height in millimetres, "25.4 × 50.8 × 12.7 mm". Sizes under a
// millimetre keep two decimals.
function sizeText(size) {
    var largest = Math.max(size.x, size.y, size.z)
    var decimals = largest < 1 ? 2 : 1
    return qsTr("%1 × %2 × %3 mm").arg(size.x.toFixed(decimals)).arg(size.z.toFixed(decimals))
            .arg(size.y.toFixed(decimals))
}
