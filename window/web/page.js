// The page's script, run before the core starts. It wires the controls that page.html holds to
// the core, and answers what the core asks of its window (kavoni_page.cpp): the cells, the
// name, the save dialog and the message box, and the writing of the file that
// sprite/native_file_web.cpp hands over. It holds no sprite of its own and knows no file
// format: the core reads the controls and makes every byte that is saved.
(function () {
  'use strict';

  var windowElement = document.querySelector('main');
  var cells = Array.prototype.slice.call(windowElement.querySelectorAll('input[type=checkbox]'));
  var button = windowElement.querySelector('button');
  var nameBox = windowElement.querySelector('input[type=text]');
  var saveDialog = document.querySelector('dialog.save');
  var fileNameBox = saveDialog.querySelector('input');
  var pattern = saveDialog.querySelector('.pattern');
  var box = document.querySelector('dialog.box');
  var boxTitle = box.querySelector('h1');
  var boxText = box.querySelector('p');
  var boxIcon = box.querySelector('.warning');
  // The failure box as the page was built with it, for a core that cannot start.
  var startFailure = {
    prompt: boxText.textContent,
    title: boxTitle.textContent,
    flags: Number(box.dataset.flags),
  };
  var warningFlags = 48;

  var core = null;
  var coreStarted = new Promise(function (resolve, reject) {
    Module['onRuntimeInitialized'] = function () {
      core = Module;
      resolve(core);
    };
    Module['onAbort'] = function (what) {
      reject(new Error(String(what)));
    };
  });

  // The module's bytes are in this script already (SINGLE_FILE). Emscripten would fetch them
  // from their data: URL, which is a request, and one that a strict policy refuses; they are
  // decoded here instead, so the page makes no request at all. The module is small, so it is
  // compiled at once, and the core is ready as the script ends; a browser that will not compile
  // on its main thread compiles it in the background instead.
  Module['instantiateWasm'] = function (imports, receiveInstance) {
    var bytes = tryParseAsDataURI(wasmBinaryFile);
    var module;
    try {
      module = new WebAssembly.Module(bytes);
    } catch (error) {
      WebAssembly.instantiate(bytes, imports).then(
        function (result) {
          receiveInstance(result.instance, result.module);
        },
        function (error) {
          Module['onAbort'](error);
        });
      return {};
    }
    try {
      receiveInstance(new WebAssembly.Instance(module, imports), module);
    } catch (error) {
      Module['onAbort'](error);
    }
    return {};
  };

  // Where this press saves: a file that the system's picker handed over, or a download under
  // the name typed in the page's own dialog. Each press's dialog sets it afresh.
  var choice = null;
  // What the next dialog offers again, as the desktop's dialog keeps the last choice.
  var last = {handle: null, fileName: ''};

  function pickerOptions() {
    var extension = pattern.dataset.extension;
    var options = {
      // The file type is the layout's pattern; the picker takes no title of ours.
      types: [{description: pattern.textContent, accept: {'text/plain': [extension]}}],
      excludeAcceptAllOption: true,
    };
    if (last.handle) {
      // Beside the file saved last, under its name, so Enter saves over it again.
      options.startIn = last.handle;
      options.suggestedName = last.handle.name;
    } else {
      options.startIn = 'desktop';
    }
    return options;
  }

  // The system's save picker: false when the user cancels it, and any other failure thrown.
  function pickFile() {
    return window.showSaveFilePicker(pickerOptions()).then(
      function (handle) {
        var extension = pattern.dataset.extension;
        last.handle = handle;
        // The core appends the extension to the dialog's name, which the picker has already
        // given the file; the name without it comes back to the same file.
        var name = handle.name;
        if (name.length > extension.length &&
            name.slice(-extension.length).toLowerCase() === extension) {
          name = name.slice(0, -extension.length);
        }
        choice = {handle: handle, fileName: name};
        return true;
      },
      function (error) {
        if (error && error.name === 'AbortError') {
          return false;
        }
        throw error;
      });
  }

  // The page's own modal save dialog, for browsers without the picker.
  function askFileName() {
    return new Promise(function (resolve) {
      fileNameBox.value = last.fileName;
      saveDialog.returnValue = '';
      saveDialog.addEventListener('close', function () {
        if (saveDialog.returnValue !== 'save') {
          resolve(false);
          return;
        }
        last.fileName = fileNameBox.value;
        choice = {handle: null, fileName: fileNameBox.value};
        resolve(true);
      }, {once: true});
      saveDialog.showModal();
      fileNameBox.select();
    });
  }

  function runSaveDialog() {
    choice = null;
    return typeof window.showSaveFilePicker === 'function' ? pickFile() : askFileName();
  }

  // Through the picker's handle: the browser writes a file of its own beside the chosen one
  // and puts it in its place on close, so a failure part-way leaves the old file as it was.
  function writeThrough(handle, bytes) {
    return handle.createWritable().then(function (writable) {
      return writable.write(bytes).then(
        function () {
          return writable.close();
        },
        function (error) {
          return Promise.resolve(writable.abort()).then(
            function () {
              throw error;
            },
            function () {
              throw error;
            });
        });
    });
  }

  function download(name, bytes) {
    var url = URL.createObjectURL(new Blob([bytes], {type: 'text/plain'}));
    var link = document.createElement('a');
    link.href = url;
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    // Long enough for any browser to have read it; the page may stay open for hours.
    setTimeout(function () {
      URL.revokeObjectURL(url);
    }, 60000);
  }

  function save(name, bytes) {
    if (choice === null) {
      return Promise.reject(new Error('no file was chosen'));
    }
    if (choice.handle) {
      return writeThrough(choice.handle, bytes);
    }
    return Promise.resolve().then(function () {
      download(name, bytes);
    });
  }

  function showMessageBox(prompt, title, flags) {
    return new Promise(function (resolve) {
      boxTitle.textContent = title;
      boxText.textContent = prompt;
      boxIcon.style.display = (flags & 0xf0) === warningFlags ? '' : 'none';
      box.addEventListener('close', function () {
        resolve();
      }, {once: true});
      box.showModal();
    });
  }

  Module['kavoniPage'] = {
    cellTicked: function (index) {
      return cells[index].checked;
    },
    runSaveDialog: runSaveDialog,
    dialogFileName: function () {
      return choice.fileName;
    },
    nameText: function () {
      return nameBox.value;
    },
    showMessageBox: showMessageBox,
  };
  Module['kavoniSave'] = save;

  // A press runs the command to its end. Meanwhile the window takes no input, as behind the
  // desktop's modal dialogs: the dialogs are outside it, and the focus comes back afterwards.
  var running = false;
  button.addEventListener('click', function () {
    if (running) {
      return;
    }
    running = true;
    var focused = document.activeElement;
    windowElement.inert = true;
    coreStarted
        .then(function (module) {
          return module.ccall('kavoni_make_sprite', null, [], [], {async: true});
        })
        .catch(function () {
          // The core could not start (or stopped): the failure box all the same.
          return showMessageBox(startFailure.prompt, startFailure.title, startFailure.flags);
        })
        .then(function () {
          windowElement.inert = false;
          running = false;
          if (focused && focused !== document.body) {
            focused.focus();
          }
        });
  });

  // The arrow keys move through the grid and stop at its edges, as on the desktop.
  var arrows = {ArrowUp: 0, ArrowDown: 1, ArrowLeft: 2, ArrowRight: 3};
  windowElement.addEventListener('keydown', function (event) {
    var index = cells.indexOf(event.target);
    var arrow = arrows[event.key];
    if (index < 0 || arrow === undefined || event.altKey || event.ctrlKey || event.metaKey ||
        event.shiftKey || core === null) {
      return;
    }
    event.preventDefault();
    cells[core['_kavoni_cell_neighbour'](index, arrow)].focus();
  });

  // The name box holds one line, however text gets in: a line break or control character
  // becomes a space, by the same rule as on the desktop.
  function flatten(text) {
    return core.ccall('kavoni_flatten_name', 'string', ['string'], [text]);
  }
  var valueProperty = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value');
  // Set by another script (an extension, a password manager): the browser would drop the
  // line breaks and keep the tabs.
  Object.defineProperty(nameBox, 'value', {
    get: function () {
      return valueProperty.get.call(this);
    },
    set: function (text) {
      valueProperty.set.call(this, core === null ? text : flatten(String(text)));
    },
  });

  // Pasted or dropped: inserted here, flattened, before the browser's own single-line rule
  // could drop the breaks.
  function insertFlattened(event, text) {
    if (core === null || typeof text !== 'string') {
      return;
    }
    event.preventDefault();
    var flat = flatten(text);
    nameBox.focus();
    // As typing, so that undo takes it back; setRangeText where a browser has no such command.
    if (!document.execCommand('insertText', false, flat)) {
      nameBox.setRangeText(flat, nameBox.selectionStart, nameBox.selectionEnd, 'end');
      nameBox.dispatchEvent(new Event('input', {bubbles: true}));
    }
  }
  nameBox.addEventListener('paste', function (event) {
    insertFlattened(event, event.clipboardData && event.clipboardData.getData('text/plain'));
  });
  nameBox.addEventListener('drop', function (event) {
    insertFlattened(event, event.dataTransfer && event.dataTransfer.getData('text/plain'));
  });
  // Anything else that brings a control character in (autofill, dictation): flattened once it
  // is there, the cursor kept after the same character.
  nameBox.addEventListener('input', function () {
    if (core === null) {
      return;
    }
    var text = valueProperty.get.call(nameBox);
    var flat = flatten(text);
    if (flat !== text) {
      var cursor = flatten(text.slice(0, nameBox.selectionStart)).length;
      valueProperty.set.call(nameBox, flat);
      nameBox.setSelectionRange(cursor, cursor);
    }
  });

  coreStarted.then(
    function () {
      var text = valueProperty.get.call(nameBox);
      if (text !== '') {
        valueProperty.set.call(nameBox, flatten(text));
      }
      document.documentElement.dataset.kavoni = 'ready';
      performance.mark('kavoni-ready');
    },
    function () {
      document.documentElement.dataset.kavoni = 'failed';
    });
})();
