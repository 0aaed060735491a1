.pragma library

// Numbers of Qt's message types, as Qt defines them.
var QtDebugMsg = 0;
var QtWarningMsg = 1;
var QtCriticalMsg = 2;
var QtFatalMsg = 3;
var QtInfoMsg = 4;
var QtSystemMsg = QtCriticalMsg;

// The face used wherever the screens ask for "Impact". Where Impact is missing, fontconfig's own
// substitute can be a symbol font, so a bold condensed face is named instead; callers also set bold.
var _impactFamily = "";
function impactFamily() {
    if (_impactFamily === "")
        _impactFamily = Qt.fontFamilies().indexOf("Impact") >= 0 ? "Impact" : "Liberation Sans Narrow";
    return _impactFamily;
}
