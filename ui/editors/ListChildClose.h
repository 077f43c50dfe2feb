#pragma once
// How the configurator's in-place editors end: the editor asks for its own
// close and the request is handled later, from the event loop, so whatever
// called the editor (a key or focus handler) finishes on a live object first.
// Focus still in the editor goes back to the list view it stood over, instead
// of wandering to whatever widget happens to come next in the tab chain.

class QWidget;

void PostListChildClose(QWidget* editor);
