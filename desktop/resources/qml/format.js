.pragma library

// Texts and conversions shared by the pages.

// Whole minutes as "45 min" or "2 h 05 min"; a negative time is a thickness the resin
// does not offer.
function minutesText(minutes) {
    if (minutes === undefined || minutes === null || minutes < 0)
        return qsTr("not offered")
    var hours = Math.floor(minutes / 60)
    var rest = minutes % 60
    if (hours === 0)
        return qsTr("%1 min").arg(rest)
    return qsTr("%1 h %2 min").arg(hours).arg(rest < 10 ? "0" + rest : rest)
}

// The printer's status name in words.
function statusText(status) {
    switch (status) {
    case "PrintStatus_Printing": return qsTr("Printing")
    case "PrintStatus_Paused": return qsTr("Paused")
    case "PrintStatus_Ready": return qsTr("Ready")
    }
    return status
}

// A local path from a file URL (file:///C:/a.stl gives C:/a.stl, file:///home/a.stl gives
// /home/a.stl); other text is returned as it is.
function localPath(url) {
    var text = url.toString()
    if (text.indexOf("file://") !== 0)
        return text
    text = decodeURIComponent(text.substring(7))
    if (/^\/[A-Za-z]:\//.test(text))
        text = text.substring(1)
    return text
}

function fileName(path) {
    var text = path.toString()
    var slash = Math.max(text.lastIndexOf("/"), text.lastIndexOf("\\"))
    return slash >= 0 ? text.substring(slash + 1) : text
}

// Meshes the import accepts.
function isImportable(path) {
    return /\.(stl|obj)$/i.test(path.toString())
}

function isPrintJob(path) {
    return /\.ssj$/i.test(path.toString())
}

// The editor takes the support density as a divisor: the support engine's density level is
// the integer part of 50 / density. The pages offer the level (1 to 100) itself; half a
// level is added so that the division lands safely inside the chosen level.
function supportDensityForLevel(level) {
    return 50.0 / (level + 0.5)
}

// A number for a text field: at most `decimals` decimals, without trailing zeros.
function number(value, decimals) {
    return Number(Number(value).toFixed(decimals)).toString()
}
