import QtQuick 2.15

// The one navigator: a stack of page loaders. Pages are made only here.
Item {
    id: root

    property var loaders: []
    readonly property Item currentPage: root.topLoader ? root.topLoader.item : null
    property Loader topLoader: null
    property var currentProps: ({})

    // Runs f once the current page agrees: a page with a function nav(f)
    // decides when (it must call f exactly once); any other page at once.
    function navTodo(f) {
        const page = root.currentPage;
        if (page && typeof page.nav === "function")
            page.nav(f);
        else
            f();
    }

    // Replaces the page in the top loader with source, given props. A page
    // that fails to load leaves the one before it in place. The page already
    // shown, asked for again without properties, stays as it is (a finished
    // transfer shows the tasks: the list keeps its opened rows and place).
    function nav(source, props) {
        const url = Qt.resolvedUrl(source);
        if (root.topLoader && root.topLoader.source.toString() === url.toString() && root.currentPage
                && Object.keys(props || {}).length === 0 && Object.keys(root.currentProps).length === 0)
            return;
        root.navTodo(() => {
            if (root.loaders.length === 0)
                root.push();
            const loader = root.topLoader;
            const previous = loader.source;
            const previousProps = root.currentProps;
            loader.setSource(url, props || {});
            if (loader.status === Loader.Error && previous.toString() !== "")
                loader.setSource(previous, previousProps);
            else
                root.currentProps = props || {};
        });
    }

    // Hides the top page and adds an empty loader above it.
    function push() {
        if (root.topLoader)
            root.topLoader.visible = false;
        const loader = loaderComponent.createObject(root);
        root.loaders.push(loader);
        root.topLoader = loader;
    }

    // Discards the top loader and shows the one beneath.
    function pop() {
        if (root.loaders.length === 0)
            return;
        root.loaders.pop().destroy();
        root.topLoader = root.loaders.length > 0 ? root.loaders[root.loaders.length - 1] : null;
        if (root.topLoader)
            root.topLoader.visible = true;
    }

    objectName: "navUtil"

    Component {
        id: loaderComponent

        Loader {
            anchors.fill: parent
            focus: visible
        }
    }
}
