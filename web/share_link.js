// A program shared by link: its number, name, formula and the settings in the URL's
// fragment, as readable key=value pairs:
//   #program=6&name=Ringy&formula=(P%26255)%5E...&poly=8&porta=100&time=50&gain=100&lerp=0&clamp=1&zoom=0&drum=0
// The settings and the values each may take come from the instrument's table of
// settings: `ranges` maps each key to [lowest, highest].

export const maxFormula = 1023;
// What the instrument keeps of a program's name (a VST 2.4 program name's length): the
// Name box takes no more, and a longer name in a link is cut to it.
export const maxName = 24;

// What a formula or a name may hold: the printable ASCII characters, and line breaks
// and tabs in a formula.
const formulaText = /^[\x20-\x7e\r\n\t]*$/;
const nameText = /^[\x20-\x7e]*$/;

export function shareFragment({ index, name, formula, settings }) {
    const pairs = [
        ['program', String(index + 1)],
        ['name', name],
        ['formula', formula],
        ...Object.entries(settings).map(([key, value]) => [key, String(value)]),
    ];
    return '#' + pairs.map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
}

class LinkError extends Error {}

function integer(key, text, [lowest, highest]) {
    if (!/^-?\d+$/.test(text)) throw new LinkError(`${key} is not a whole number`);
    const value = Number(text);
    const shown = text.length > 12 ? `${text.slice(0, 12)}…` : text;
    if (!(value >= lowest && value <= highest)) throw new LinkError(`${key} ${shown} is outside ${lowest}..${highest}`);
    return value;
}

// Reads a fragment (with or without its '#'). Returns null for an empty one, the
// program for a good one (its name null when the link names none, `nameCut` true when
// the link's was longer than a name holds), and {error} saying what is wrong with any
// other. A '+' is a plus sign, as in the formula language.
export function readShareFragment(fragment, ranges) {
    const text = fragment.replace(/^#/, '');
    if (text === '') return null;
    try {
        const fields = new Map();
        for (const pair of text.split('&')) {
            const at = pair.indexOf('=');
            if (at < 0) throw new LinkError(`"${pair.slice(0, 20)}" has no value`);
            let value;
            try {
                value = decodeURIComponent(pair.slice(at + 1));
            } catch {
                throw new LinkError(`the ${pair.slice(0, Math.min(at, 20))} does not decode`);
            }
            fields.set(pair.slice(0, at), value);
        }
        for (const key of fields.keys())
            if (!['program', 'name', 'formula', ...Object.keys(ranges)].includes(key))
                throw new LinkError(`it has an unknown field "${key.slice(0, 20)}"`);
        if (!fields.has('formula')) throw new LinkError('it has no formula');
        const formula = fields.get('formula');
        if (formula.length > maxFormula) throw new LinkError(`its formula is longer than ${maxFormula} characters`);
        if (!formulaText.test(formula)) throw new LinkError('its formula holds characters a formula cannot have');
        const name = fields.has('name') ? fields.get('name').slice(0, maxName) : null;
        const nameCut = fields.has('name') && fields.get('name').length > maxName;
        if (name !== null && !nameText.test(name)) throw new LinkError('its name holds characters a name cannot have');
        const index = fields.has('program') ? integer('program', fields.get('program'), [1, 128]) - 1 : 0;
        const settings = {};
        for (const [key, range] of Object.entries(ranges))
            if (fields.has(key)) settings[key] = integer(key, fields.get(key), range);
        return { index, name, nameCut, formula, settings };
    } catch (error) {
        if (error instanceof LinkError) return { error: error.message };
        throw error;
    }
}
