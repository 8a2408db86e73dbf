// Events: dropping files, the buttons and keys of the table, scrolling,
// sorting, and the warning before unsaved changes are lost. Loaded last, it
// starts the engine.

'use strict';

// ------------------------------------------------------------ drop, wiring

function droppedFiles(dataTransfer) {
    return dataTransfer ? [...dataTransfer.files] : [];
}

document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
    const row = event.target.closest?.('tr[data-index]');
    for (const marked of ui.rows.querySelectorAll('.drop-target')) {
        if (marked !== row) {
            marked.classList.remove('drop-target');
        }
    }
    row?.classList.add('drop-target');
});
document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) {
        document.body.classList.remove('dragging');
    }
});
document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const row = event.target.closest?.('tr[data-index]');
    row?.classList.remove('drop-target');
    const files = droppedFiles(event.dataTransfer);
    if (files.length === 1 && /\.pev$/i.test(files[0].name)) {
        openArchive(files[0]);
    } else if (files.length === 1 && row) {
        replaceClips([{ index: Number(row.dataset.index), file: files[0] }]);
    } else if (files.length > 1 && state) {
        replaceByNames(files);
    } else if (files.length === 1 && state && positionNamed(files[0].name) && !/\.pev$/i.test(files[0].name)) {
        replaceByNames(files);
    } else if (files.length === 1) {
        openArchive(files[0]);
    } else if (files.length > 1) {
        say('Drop one archive at a time.', 'error');
    }
});

ui.archiveInput.addEventListener('change', () => {
    const [file] = ui.archiveInput.files;
    ui.archiveInput.value = '';
    if (file) {
        openArchive(file);
    }
});
ui.openButton.addEventListener('click', () => ui.archiveInput.click());

let replacing = null; // the clip whose Replace button opened the file chooser
ui.replaceInput.addEventListener('change', () => {
    const [file] = ui.replaceInput.files;
    ui.replaceInput.value = '';
    if (file && replacing !== null) {
        replaceClips([{ index: replacing, file }]);
    }
});

ui.rows.addEventListener('click', (event) => {
    const control = event.target.closest('button');
    const row = control?.closest('tr[data-index]');
    if (!row) {
        return;
    }
    const index = Number(row.dataset.index);
    if (control.dataset.control === 'play') {
        play(index);
    } else if (control.dataset.control === 'download') {
        downloadClip(index);
    } else if (control.dataset.control === 'replace') {
        replacing = index;
        ui.replaceInput.click();
    }
});
ui.rows.addEventListener('pointerdown', (event) => {
    if (event.target.dataset.control === 'wave') {
        startSeek(event);
    }
});

// Up and down move to the same control of the clip above or below; Space
// on a waveform plays or stops its clip.
ui.rows.addEventListener('keydown', (event) => {
    const row = event.target.closest('tr[data-index]');
    if (!row || event.altKey || event.ctrlKey || event.metaKey) {
        return;
    }
    const index = Number(row.dataset.index);
    const control = event.target.dataset.control;
    if ((event.key === ' ' || event.key === 'Enter') && control === 'wave') {
        event.preventDefault();
        play(index);
    } else if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
        const view = state.viewOf[index] + (event.key === 'ArrowDown' ? 1 : -1);
        if (view >= 0 && view < state.order.length) {
            event.preventDefault();
            focusClip(state.order[view], control);
        }
    }
});

for (const th of ui.table.tHead.rows[0].cells) {
    th.querySelector('button')?.addEventListener('click', () => {
        sortUp = sortKey === th.dataset.key ? !sortUp : true;
        sortKey = th.dataset.key;
        if (state) {
            arrange({ toTop: true });
        }
    });
}

let renderPending = false;
ui.scroller.addEventListener('scroll', () => {
    if (!renderPending) {
        renderPending = true;
        requestAnimationFrame(() => {
            renderPending = false;
            render();
        });
    }
}, { passive: true });
new ResizeObserver(([entry]) => {
    viewHeight = entry.contentRect.height || viewHeight;
    render();
}).observe(ui.scroller);
phoneLayout.addEventListener('change', () => state && arrange());
matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    colours = null;
    for (const index of made.keys()) {
        drawWave(index);
    }
});

ui.filter.addEventListener('input', () => state && arrange({ toTop: true }));
ui.downloadAll.addEventListener('click', downloadAll);
ui.downloadArchive.addEventListener('click', downloadArchive);

// Edits live in this tab only until the archive is saved.
window.addEventListener('beforeunload', (event) => {
    if (state?.changed) {
        event.preventDefault();
        event.returnValue = '';
    }
});

engine.start();
