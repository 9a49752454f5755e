// The viewer: the parts from the embedded glTF and the field's pieces, a part list, and tables
// whose rows select and frame the parts they name. Draws only when something changed.
(function () {
  'use strict';

  const page = JSON.parse(document.getElementById('nimbo-page').textContent);
  const status = document.getElementById('status');
  const view = document.getElementById('view');
  const ghostBox = document.getElementById('ghost');

  function fail(message) {
    status.textContent = message;
    status.className = 'error';
    document.body.dataset.state = 'error';
    console.error(message);
  }

  function bytesOf(base64) {
    const text = atob(base64);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
    return bytes;
  }

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function swatch(color) {
    const s = element('span', 'swatch');
    s.style.background = color;
    return s;
  }

  // --- Scene -------------------------------------------------------------------------------------

  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  view.insertBefore(renderer.domElement, view.firstChild);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xf4f5f7);
  const camera = new THREE.PerspectiveCamera(30, 1, 0.001, 1000);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x7d828c, 0.75));
  const headlight = new THREE.DirectionalLight(0xffffff, 0.45);
  headlight.position.set(0.5, 1, 1);
  camera.add(headlight);
  scene.add(camera);
  const controls = new THREE.OrbitControls(camera, renderer.domElement);
  controls.screenSpacePanning = true;

  let pending = false;
  function draw() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      renderer.render(scene, camera);
    });
  }

  let sceneRadius = 1;
  // The clipping planes follow the distance, so that a zoomed-in part is not cut.
  function clip() {
    const distance = camera.position.distanceTo(controls.target);
    camera.near = Math.max(distance / 500, sceneRadius * 1e-6);
    camera.far = distance + 4 * sceneRadius;
    camera.updateProjectionMatrix();
  }
  controls.addEventListener('change', () => { clip(); draw(); });

  function resize() {
    const width = view.clientWidth, height = view.clientHeight;
    renderer.setSize(width, height);
    camera.aspect = width / Math.max(height, 1);
    camera.updateProjectionMatrix();
    draw();
  }
  window.addEventListener('resize', resize);

  // --- Parts -------------------------------------------------------------------------------------

  // name -> { object, material, edges, ghost, inside, field, item }
  const parts = new Map();

  // `how`: ghost (always see-through), inside (lies within other parts), field (coloured by it).
  function register(name, object, material, edges, color, kind, how) {
    const item = element('li');
    item.title = name;
    const shown = element('input');
    shown.type = 'checkbox';
    shown.checked = true;
    shown.title = 'Show';
    shown.addEventListener('click', (event) => {
      event.stopPropagation();
      object.visible = shown.checked;
      draw();
    });
    item.append(shown, swatch(color), element('span', 'name', name));
    if (kind) item.append(element('span', 'kind', kind));
    item.addEventListener('click', () => select([name], true));
    document.getElementById('part-list').append(item);
    parts.set(name, { object, material, edges, ...how, item });
    scene.add(object);
  }

  function partMaterial(color, ghost) {
    return new THREE.MeshStandardMaterial({
      color: new THREE.Color(color), metalness: 0.05, roughness: 0.7, side: THREE.DoubleSide,
      transparent: ghost, opacity: ghost ? 0.22 : 1, depthWrite: !ghost,
      polygonOffset: true, polygonOffsetFactor: 1, polygonOffsetUnits: 1,
    });
  }

  function addModel(root) {
    // The scene's nodes are the parts, in the page's order, each named by its part.
    const byName = new Map();
    for (const node of [...root.children]) if (!byName.has(node.userData.name)) byName.set(node.userData.name, node);
    // The edges finder merges corners closer than 1e-4: the model is scaled to about a thousand
    // for it, so that small parts keep their edges and big ones do not merge near corners.
    const size = new THREE.Box3().setFromObject(root).getBoundingSphere(new THREE.Sphere()).radius;
    const scale = size > 0 ? 1000 / size : 1;
    for (const part of page.parts) {
      const object = byName.get(part.name);
      if (!object) throw new Error('the model holds no part named ' + part.name);
      const material = partMaterial(part.color, part.ghost);
      const edges = new THREE.LineBasicMaterial({ color: 0x1d2330, transparent: true, opacity: part.ghost ? 0.12 : 0.4 });
      object.traverse((o) => {
        if (!o.isMesh) return;
        o.material = material;
        const lines = new THREE.EdgesGeometry(o.geometry.clone().scale(scale, scale, scale), 35);
        if (lines.attributes.position.count > 0) o.add(new THREE.LineSegments(lines.scale(1 / scale, 1 / scale, 1 / scale), edges));
      });
      register(part.name, object, material, edges, part.color, part.kind, { ghost: part.ghost, inside: part.inside });
    }
  }

  // Each piece is coloured by a byte a node, its place on the colour bar, through the palette.
  function addField(field) {
    const palette = bytesOf(field.palette);
    const colors = [];
    for (const piece of field.pieces) {
      const geometry = new THREE.BufferGeometry();
      const positions = new Float32Array(bytesOf(piece.positions).buffer);
      geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
      geometry.setAttribute('color', new THREE.BufferAttribute(new Uint8Array(positions.length), 3, true));
      geometry.setIndex(new THREE.BufferAttribute(new Uint32Array(bytesOf(piece.indices).buffer), 1));
      geometry.computeVertexNormals();
      colors.push(geometry.attributes.color);
      const material = new THREE.MeshLambertMaterial({ vertexColors: THREE.VertexColors, side: THREE.DoubleSide });
      register(piece.name, new THREE.Mesh(geometry, material), material, null, field.ramp[5], 'field', { field: true });
    }
    function paint(levels) {
      colors.forEach((attribute, i) => {
        const bytes = bytesOf(levels[i]), rgb = attribute.array;
        for (let j = 0, k = 0; j < bytes.length; ++j) {
          const c = 3 * bytes[j];
          rgb[k++] = palette[c];
          rgb[k++] = palette[c + 1];
          rgb[k++] = palette[c + 2];
        }
        attribute.needsUpdate = true;
      });
      draw();
    }
    paint(field.pieces.map((piece) => piece.levels));
    if (field.frames.length) addFrames(field.frames, paint);
    const bar = document.getElementById('colorbar');
    bar.hidden = false;
    document.getElementById('colorbar-title').textContent = field.title;
    document.getElementById('colorbar-ramp').style.background = 'linear-gradient(to top, ' + field.ramp.join(', ') + ')';
    const ticks = document.getElementById('colorbar-ticks');
    for (let k = 0; k <= 4; ++k) ticks.append(element('div', '', Number((field.min + (field.max - field.min) * k / 4).toPrecision(5)).toString()));
    document.getElementById('colorbar-note').textContent = field.note;
  }

  // The slider over the field's steps in time, on the last at first; play runs through them once.
  function addFrames(frames, paint) {
    const slider = document.getElementById('frame');
    const play = document.getElementById('play');
    let timer = null;
    function show(k) {
      slider.value = k;
      document.getElementById('frame-label').textContent = frames[k].label;
      paint(frames[k].levels);
    }
    function stop() {
      clearInterval(timer);
      timer = null;
      play.textContent = '\u25B6';
    }
    slider.max = frames.length - 1;
    slider.addEventListener('input', () => { stop(); show(Number(slider.value)); });
    play.addEventListener('click', () => {
      if (timer) return stop();
      if (Number(slider.value) === frames.length - 1) show(0);
      play.textContent = '\u275A\u275A';
      timer = setInterval(() => {
        const next = Number(slider.value) + 1;
        if (next < frames.length) show(next);
        if (next >= frames.length - 1) stop();
      }, 400);
    });
    document.getElementById('frames').hidden = false;
    show(frames.length - 1);
  }

  // --- Selection ---------------------------------------------------------------------------------

  let selected = new Set();
  let selectedRow = null;

  function restyle() {
    const ghostRest = ghostBox.checked && selected.size > 0;
    for (const [name, part] of parts) {
      const chosen = selected.has(name);
      const faded = part.ghost || (ghostRest && !chosen);
      part.material.transparent = faded;
      part.material.opacity = faded ? (part.ghost && chosen ? 0.45 : 0.12) : 1;
      part.material.depthWrite = !faded;
      // A field keeps its colours: the ghosting alone shows what is selected.
      if (!part.field) part.material.emissive.setHex(chosen ? 0x4a3a00 : 0x000000);
      part.material.needsUpdate = true;
      if (part.edges) part.edges.opacity = faded ? 0.08 : chosen ? 0.9 : 0.4;
      // What lies within other parts shows through them while selected.
      const through = chosen && part.inside;
      part.material.depthTest = !through;
      part.object.renderOrder = through ? 2 : faded ? 1 : 0;
      part.item.classList.toggle('selected', chosen);
    }
    draw();
  }

  function frame(objects) {
    scene.updateMatrixWorld(true);
    const box = new THREE.Box3();
    for (const o of objects) box.expandByObject(o);
    if (box.isEmpty()) return;
    const sphere = box.getBoundingSphere(new THREE.Sphere());
    const radius = Math.max(sphere.radius, sceneRadius * 1e-4);
    const direction = camera.position.clone().sub(controls.target).normalize();
    const distance = radius / Math.sin((camera.fov / 2) * Math.PI / 180) * 1.05;
    controls.target.copy(sphere.center);
    camera.position.copy(sphere.center).addScaledVector(direction, distance);
    clip();
    controls.update();
    draw();
  }

  function shownObjects() {
    return [...parts.values()].filter((p) => p.object.visible).map((p) => p.object);
  }

  function select(names, zoom, row) {
    selected = new Set(names);
    if (selectedRow) selectedRow.classList.remove('selected');
    selectedRow = row || null;
    if (selectedRow) selectedRow.classList.add('selected');
    for (const name of names) parts.get(name).object.visible = true;
    for (const part of parts.values()) part.item.firstChild.checked = part.object.visible;
    restyle();
    if (names.length > 0) {
      const first = parts.get(names[0]).item;
      if (first.scrollIntoViewIfNeeded) first.scrollIntoViewIfNeeded(); else first.scrollIntoView({ block: 'nearest' });
    }
    if (zoom) frame(names.length ? names.map((n) => parts.get(n).object) : shownObjects());
  }

  ghostBox.addEventListener('change', restyle);
  document.getElementById('fit').addEventListener('click', () => select([], true));
  document.getElementById('filter').addEventListener('input', (event) => {
    const wanted = event.target.value.toLowerCase();
    for (const [name, part] of parts) part.item.hidden = !name.toLowerCase().includes(wanted);
  });
  window.addEventListener('keydown', (event) => {
    if (event.target.tagName === 'INPUT') return;
    if (event.key === 'f' || event.key === 'F') select([], true);
    if (event.key === 'Escape') select([], false);
  });

  // A click that did not drag picks the part under the pointer; on nothing it clears the selection.
  const raycaster = new THREE.Raycaster();
  let down = null;
  renderer.domElement.addEventListener('pointerdown', (event) => { down = [event.clientX, event.clientY]; });
  renderer.domElement.addEventListener('pointerup', (event) => {
    if (!down || Math.hypot(event.clientX - down[0], event.clientY - down[1]) > 4) return;
    const rect = renderer.domElement.getBoundingClientRect();
    const pointer = new THREE.Vector2(((event.clientX - rect.left) / rect.width) * 2 - 1, -((event.clientY - rect.top) / rect.height) * 2 + 1);
    raycaster.setFromCamera(pointer, camera);
    const solid = [];
    for (const part of parts.values()) if (part.object.visible && !part.ghost) solid.push(part.object);
    const hit = raycaster.intersectObjects(solid, true).find((h) => h.object.isMesh);
    if (!hit) return select([], false);
    for (const [name, part] of parts) {
      let o = hit.object;
      while (o && o !== part.object) o = o.parent;
      if (o) return select([name], false);
    }
  });

  // --- Tables and legend -------------------------------------------------------------------------

  function addTables() {
    const section = document.getElementById('tables');
    for (const table of page.tables) {
      section.append(element('h2', '', table.title + ' (' + table.rows.length + ')'));
      const t = element('table');
      t.id = table.id;
      const head = element('tr');
      for (const column of table.columns) head.append(element('th', '', column));
      t.append(element('thead'));
      t.tHead.append(head);
      const body = element('tbody');
      for (const row of table.rows) {
        const tr = element('tr', row.parts.length ? 'frames' : '');
        for (const cell of row.cells) tr.append(element('td', /^-?[0-9.]+(e[-+]?[0-9]+)?$/.test(cell) ? 'number' : '', cell));
        if (row.parts.length) tr.addEventListener('click', () => select(row.parts, true, tr));
        body.append(tr);
      }
      t.append(body);
      section.append(t);
    }
  }

  function addLegend() {
    const legend = document.getElementById('legend');
    for (const entry of page.legend) {
      const line = element('div');
      line.append(swatch(entry.color), element('span', '', entry.label));
      legend.append(line);
    }
  }

  // --- Start -------------------------------------------------------------------------------------

  function start() {
    scene.updateMatrixWorld(true);
    const box = new THREE.Box3();
    for (const part of parts.values()) box.expandByObject(part.object);
    sceneRadius = Math.max(box.getBoundingSphere(new THREE.Sphere()).radius, 1e-9);
    // From +X +Y +Z with Z up, as the drawings' iso view; glTF has Y up.
    camera.position.set(1, 1, -1);
    controls.target.set(0, 0, 0);
    resize();
    select([], true);
    status.textContent = '';
    document.body.dataset.state = 'ready';
  }

  document.title = page.title;
  document.getElementById('title').textContent = page.title;
  document.getElementById('summary').textContent = page.summary;
  addTables();
  addLegend();
  try {
    if (page.field) addField(page.field);
  } catch (error) {
    fail('Cannot show the field: ' + error.message);
  }
  const model = document.getElementById('nimbo-model').textContent.trim();
  if (!model) {
    start();
  } else {
    new THREE.GLTFLoader().parse(bytesOf(model).buffer, '', (gltf) => {
      try {
        addModel(gltf.scene);
        start();
      } catch (error) {
        fail('Cannot show the model: ' + error.message);
      }
    }, (error) => fail('Cannot read the model: ' + (error.message || error)));
  }
})();
