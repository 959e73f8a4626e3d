// Runs in the visual editor's isolated world (page scripts are off and cannot reach it) after
// qwebchannel.js. Tells the editor window about every key and every edit of the body.
(function () {
    'use strict';
    if (typeof qt === 'undefined' || !qt.webChannelTransport) {
        return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
        var editor = channel.objects.zorEditor;
        var body = function () { return document.body ? document.body.innerHTML : ''; };
        // The body read at keydown or keypress does not hold the new character yet: the edit
        // itself is reported by the input event, which follows every change the user makes.
        document.addEventListener('keydown', function () { editor.key(0); }, true);
        document.addEventListener('keypress', function () { editor.key(1); }, true);
        document.addEventListener('input', function () { editor.edited(body()); }, true);
        document.addEventListener('keyup', function () { editor.key(2); }, true);
    });
})();
