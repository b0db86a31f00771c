// Comet Catch: the demo game that stands in for the real one. The stage is the
// game view's size, 1060 x 680; only the arena, (51, 80) to (992, 670), shows
// in the window. A comet flies around on its own, two mines drift, and the
// player's ship follows the arrow keys: the score counts up each second the
// ship stays clear of the mines, a caught comet gives five more, a mine ends
// the run (and the ship blinks, safe for two seconds). The best score is
// saved in a SharedObject.
//
// The page talks to the movie through ExternalInterface: the page calls
// toggleSound() (F1), and the movie calls the page's gameState(event, x, y,
// score, best, soundOn) when it starts, when the ship comes to a stop, and
// when the score, the best score or the sound changes.
import flash.display.Shape;
import flash.display.Sprite;
import flash.events.Event;
import flash.events.KeyboardEvent;
import flash.external.ExternalInterface;
import flash.media.SoundChannel;
import flash.media.SoundTransform;
import flash.net.SharedObject;
import flash.text.TextField;
import flash.text.TextFormat;
import flash.ui.Keyboard;

@:sound("tune.wav") class Tune extends flash.media.Sound {}

class Main extends Sprite {
    // The arena: what the window shows of the stage.
    static inline var LEFT = 51;
    static inline var TOP = 80;
    static inline var RIGHT = 992;
    static inline var BOTTOM = 670;
    static inline var HUD = 44;  // the score line at the arena's top
    static inline var ARENA_COLOUR = 0x14285A;
    static inline var SHIP_COLOUR = 0x3CE6AA;
    static inline var COMET_COLOUR = 0xFFD23C;
    static inline var MINE_COLOUR = 0xF0465A;
    static inline var SHIP_SPEED = 7.0;
    static inline var SHIP_RADIUS = 18;
    static inline var COMET_RADIUS = 14;
    static inline var MINE_SIZE = 36;
    static inline var FPS = 30;

    var ship:Shape;
    var comet:Shape;
    var mines:Array<Shape> = [];
    var velocities:Array<Array<Float>> = [];  // comet first, then the mines
    var held:Map<Int, Bool> = new Map();
    var hud:TextField;
    var banner:TextField;
    var save:SharedObject;
    var channel:SoundChannel;
    var soundOn = true;
    var score = 0;
    var best = 0;
    var frames = 0;
    var lastPoint = 0;  // ms
    var wasMoving = false;
    var bannerFrames = 0;
    var shieldFrames = 0;

    static function main() {
        flash.Lib.current.addChild(new Main());
    }

    function new() {
        super();
        var g = graphics;
        g.beginFill(0x0A1430);
        g.drawRect(0, 0, 1060, 680);
        g.endFill();
        g.beginFill(ARENA_COLOUR);
        g.drawRect(LEFT, TOP, RIGHT - LEFT, BOTTOM - TOP);
        g.endFill();
        g.lineStyle(2, 0x2C4C8C);
        g.moveTo(LEFT, TOP + HUD);
        g.lineTo(RIGHT, TOP + HUD);
        g.lineStyle();
        for (i in 0...60) {  // a few fixed stars
            g.beginFill(0x5A78B4);
            g.drawCircle(LEFT + (i * 379) % (RIGHT - LEFT), TOP + HUD + (i * 233) % (BOTTOM - TOP - HUD), 1.5);
            g.endFill();
        }

        comet = new Shape();
        comet.graphics.beginFill(COMET_COLOUR, 0.35);
        comet.graphics.drawCircle(0, 0, COMET_RADIUS + 8);
        comet.graphics.endFill();
        comet.graphics.beginFill(COMET_COLOUR);
        comet.graphics.drawCircle(0, 0, COMET_RADIUS);
        comet.graphics.endFill();
        addChild(comet);
        velocities.push([6.0, 4.0]);
        for (i in 0...2) {
            var mine = new Shape();
            mine.graphics.beginFill(MINE_COLOUR);
            mine.graphics.drawRect(-MINE_SIZE / 2, -MINE_SIZE / 2, MINE_SIZE, MINE_SIZE);
            mine.graphics.endFill();
            addChild(mine);
            mines.push(mine);
            velocities.push(i == 0 ? [2.5, -1.5] : [-2.0, 2.0]);
        }
        ship = new Shape();
        ship.graphics.beginFill(SHIP_COLOUR);
        ship.graphics.moveTo(0, -SHIP_RADIUS - 6);
        ship.graphics.lineTo(SHIP_RADIUS, SHIP_RADIUS);
        ship.graphics.lineTo(0, SHIP_RADIUS / 2);
        ship.graphics.lineTo(-SHIP_RADIUS, SHIP_RADIUS);
        ship.graphics.endFill();
        addChild(ship);
        placeStart();

        hud = text(22, 0xFFFFFF);
        hud.x = LEFT + 16;
        hud.y = TOP + 8;
        hud.width = RIGHT - LEFT - 32;
        addChild(hud);
        banner = text(40, 0xFFFFFF);
        banner.x = LEFT;
        banner.width = RIGHT - LEFT;
        banner.y = (TOP + BOTTOM) / 2 - 120;
        addChild(banner);
        showBanner("COMET CATCH\narrows fly \u00b7 catch the comet \u00b7 miss the mines");

        save = SharedObject.getLocal("comet-catch");
        if (save.data.best != null)
            best = save.data.best;

        channel = new Tune().play(0, 1000000);
        if (ExternalInterface.available)
            ExternalInterface.addCallback("toggleSound", toggleSound);
        drawHud();
        report("ready");

        addEventListener(Event.ENTER_FRAME, tick);
        addEventListener(Event.ADDED_TO_STAGE, function(_) {
            stage.addEventListener(KeyboardEvent.KEY_DOWN, keyDown);
            stage.addEventListener(KeyboardEvent.KEY_UP, keyUp);
            stage.focus = stage;
        });
    }

    static function text(size:Int, colour:Int):TextField {
        var field = new TextField();
        field.defaultTextFormat = new TextFormat("_sans", size, colour, true, null, null, null,
                                                 null, flash.text.TextFormatAlign.CENTER);
        field.selectable = false;
        field.mouseEnabled = false;
        field.multiline = true;
        field.wordWrap = true;
        field.height = size * 3;
        return field;
    }

    // The ship in the lower middle, the comet and the mines away from it.
    function placeStart() {
        ship.x = (LEFT + RIGHT) / 2;
        ship.y = (TOP + HUD + BOTTOM) / 2 + 120;
        comet.x = LEFT + 120;
        comet.y = TOP + HUD + 100;
        mines[0].x = LEFT + 200;
        mines[0].y = BOTTOM - 80;
        mines[1].x = RIGHT - 150;
        mines[1].y = TOP + HUD + 80;
    }

    function toggleSound():Bool {
        soundOn = !soundOn;
        channel.soundTransform = new SoundTransform(soundOn ? 1 : 0);
        drawHud();
        report("sound");
        return soundOn;
    }

    function keyDown(e:KeyboardEvent) {
        held.set(e.keyCode, true);
    }

    function keyUp(e:KeyboardEvent) {
        held.remove(e.keyCode);
    }

    function tick(_) {
        frames++;
        var dx = (held.exists(Keyboard.RIGHT) ? 1 : 0) - (held.exists(Keyboard.LEFT) ? 1 : 0);
        var dy = (held.exists(Keyboard.DOWN) ? 1 : 0) - (held.exists(Keyboard.UP) ? 1 : 0);
        ship.x = clamp(ship.x + dx * SHIP_SPEED, LEFT + SHIP_RADIUS, RIGHT - SHIP_RADIUS);
        ship.y = clamp(ship.y + dy * SHIP_SPEED, TOP + HUD + SHIP_RADIUS + 6, BOTTOM - SHIP_RADIUS);
        ship.rotation = dx * 20;
        var moving = dx != 0 || dy != 0;
        if (wasMoving && !moving)
            report("moved");
        wasMoving = moving;

        var things:Array<Shape> = [comet].concat(mines);
        for (i in 0...things.length)
            bounce(things[i], velocities[i], i == 0 ? COMET_RADIUS : MINE_SIZE / 2);
        comet.rotation += 9;

        if (near(comet, COMET_RADIUS + SHIP_RADIUS)) {
            addScore(5);
            comet.x = LEFT + 60 + (frames * 397) % (RIGHT - LEFT - 120);
            comet.y = TOP + HUD + 60 + (frames * 211) % (BOTTOM - TOP - HUD - 120);
            velocities[0][0] *= 1.05;
            velocities[0][1] *= 1.05;
        }
        if (shieldFrames > 0) {
            shieldFrames--;
            ship.alpha = shieldFrames % 6 < 3 ? 0.3 : 1.0;
        } else {
            for (mine in mines)
                if (near(mine, MINE_SIZE / 2 + SHIP_RADIUS - 4)) {
                    // The run ends; the ship blinks, safe from the mines for a while.
                    showBanner("BOOM! " + score + " points");
                    score = 0;
                    shieldFrames = 2 * FPS;
                    drawHud();
                    report("score");
                    break;
                }
        }
        var now = flash.Lib.getTimer();
        if (now - lastPoint >= 1000) {
            lastPoint = now;
            addScore(1);
        }
        if (bannerFrames > 0 && --bannerFrames == 0)
            banner.text = "";
    }

    function bounce(thing:Shape, v:Array<Float>, radius:Float) {
        thing.x += v[0];
        thing.y += v[1];
        if (thing.x < LEFT + radius || thing.x > RIGHT - radius) {
            v[0] = -v[0];
            thing.x = clamp(thing.x, LEFT + radius, RIGHT - radius);
        }
        if (thing.y < TOP + HUD + radius || thing.y > BOTTOM - radius) {
            v[1] = -v[1];
            thing.y = clamp(thing.y, TOP + HUD + radius, BOTTOM - radius);
        }
    }

    function near(thing:Shape, distance:Float):Bool {
        var dx = thing.x - ship.x, dy = thing.y - ship.y;
        return dx * dx + dy * dy < distance * distance;
    }

    function addScore(points:Int) {
        score += points;
        if (score > best) {
            best = score;
            save.data.best = best;
            save.flush();
        }
        drawHud();
        report("score");
    }

    function drawHud() {
        hud.text = "SCORE " + score + "        BEST " + best + "        SOUND " + (soundOn ? "ON" : "OFF") + " (F1)";
    }

    function showBanner(message:String) {
        banner.text = message;
        bannerFrames = 3 * FPS;
    }

    function report(event:String) {
        if (ExternalInterface.available)
            ExternalInterface.call("gameState", event, Math.round(ship.x), Math.round(ship.y), score,
                                   best, soundOn);
    }

    static function clamp(value:Float, low:Float, high:Float):Float {
        return value < low ? low : (value > high ? high : value);
    }
}
